// The options that choose a character file's animations: --clip (by name or index, given again
// or separated by commas for several) and --all-clips, as `scene import` and `correct` take them.
#pragma once

#include <vector>

#include "cli/options.h"
#include "headless/characters/character.h"
#include "headless/job/correct_character.h"

namespace cli {

// --clip, --all-clips and --reader-timeout, declared once for every command that imports a
// character.
std::vector<OptionSpec> ClipOptions();
// --reader-timeout S alone, and its value (0 when not given: the reader's default).
OptionSpec ReaderTimeoutOption();
Float ReaderSeconds(const Options& options);
// --asset-root DIR, declared once for every command that reads characters or glTF.
OptionSpec AssetRootOption();
// Whether either was given.
bool AsksForClips(const Options& options);
// The clips asked for, the reader's time and the asset root, in `character`. Throws UsageError for
// --clip with --all-clips.
void SetClips(const Options& options, headless::CharacterOptions& character);
// What `correct` and `bake` read their input with, in `request` (its eval.source set): the clips,
// the reader's time, the asset root, the bind tag's settings given and --settings auto. Throws
// UsageError for --clip or --all-clips on a scene.
void SetCorrectInput(const Options& options, headless::CorrectRequest& request);

}  // namespace cli
