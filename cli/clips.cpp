#include "cli/clips.h"

#include "cli/tag_settings.h"
#include "headless/io/scene_file.h"

namespace cli {

std::vector<OptionSpec> ClipOptions() {
  return {Repeatable(TextOption(
              "--clip", "NAME|INDEX",
              "an animation to import, by name or 0-based index (scene import --list lists "
              "them); given again, or as names separated by commas, several, end to end on the "
              "timeline",
              "the first")),
          FlagOption("--all-clips", "import every animation, end to end on the timeline"),
          ReaderTimeoutOption()};
}

OptionSpec ReaderTimeoutOption() {
  return NumberOption("--reader-timeout", "S",
                      "seconds the character file's reader (a process of its own) may take", 0.001,
                      std::nullopt, "600");
}

Float ReaderSeconds(const Options& options) {
  return options.Number("--reader-timeout").value_or(0.0);
}

OptionSpec AssetRootOption() {
  return TextOption("--asset-root", "DIR",
                    "the folder whose tree the files a character or glTF names (buffers, "
                    "pictures) must lie in; nothing outside it, and no fifo or device, is read",
                    "the file's own folder");
}

bool AsksForClips(const Options& options) {
  return options.Has("--clip") || options.Has("--all-clips");
}

void SetClips(const Options& options, headless::CharacterOptions& character) {
  character.readerSeconds = ReaderSeconds(options);
  character.assetRoot = options.Text("--asset-root");
  character.allClips = options.Has("--all-clips");
  if (character.allClips && options.Has("--clip"))
    throw UsageError("--all-clips imports every animation: give no --clip with it");
  std::vector<std::string> clips = options.Texts("--clip");
  for (const std::string& clip : clips)
    if (clip.empty()) throw UsageError("--clip wants a name or an index, not an empty text");
  if (!clips.empty()) {
    character.clip = clips.front();
    character.clips.assign(clips.begin() + 1, clips.end());
  }
}

void SetCorrectInput(const Options& options, headless::CorrectRequest& request) {
  const std::string& input = request.eval.source;
  if (AsksForClips(options)) {
    // A scene may come from the standard input; a character file is read by its name.
    if (input == "-" || headless::IsSceneFile(input))
      throw UsageError("--clip picks an animation of a character file; a scene holds its own");
    headless::CharacterOptions character;
    SetClips(options, character);
    request.clip = character.clip;
    request.clips = character.clips;
    request.allClips = character.allClips;
  }
  request.readerSeconds = ReaderSeconds(options);
  request.assetRoot = options.Text("--asset-root");
  for (const OptionSpec& o : TagSettingOptions(true))
    if (options.Has(o.name)) request.settings = TagSettingsOf(options);
  request.autoSettings = options.Has("--settings");
}

}  // namespace cli
