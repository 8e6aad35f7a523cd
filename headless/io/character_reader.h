// Character files read in a process of their own. Assimp reads files it was never hardened for,
// and a crash, a hang or a runaway allocation inside it would take the program (or the Python
// interpreter) and everything it holds down with it. So the reader program (`tessamire-reader`,
// whose whole work is CharacterReaderMain) reads the file with ImportCharacter or ListCharacter,
// under a memory limit, and hands back its answer as bytes (character_transport.h) the parent
// checks like any input; the parent waits at most a time limit. Whatever becomes of the reader is
// a refusal naming the file: "FILE: the character reader stopped on FILE: signal 11".
//
// A build without Assimp (the cross build) reads nothing: the functions answer as ImportCharacter
// does there, and no reader is started.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/io/character_transport.h"

namespace headless {

// Generous: a large FBX takes Assimp a minute or two on a slow machine.
inline constexpr Float kDefaultReaderSeconds = 600.0;
// The reader program's file name (".exe" added on Windows).
inline constexpr char kReaderProgramName[] = "tessamire-reader";

// The reader `options` name, else the one in this program's folder.
std::string CharacterReaderProgram(const CharacterOptions& options);
// The memory the reader may take: half the machine's, at least 2 GiB; 0 (no limit) in builds
// with sanitizers, which reserve address space far beyond what they use.
std::uint64_t CharacterReaderMemory();

// ImportCharacter into a document of its own, and ListCharacter, each in the reader's process.
// Throw as those do (std::runtime_error naming the file, std::invalid_argument for options),
// std::runtime_error naming the file when the reader ends otherwise, and Interrupted at a Ctrl-C.
ReadCharacter ReadCharacterApart(const std::string& path, const CharacterOptions& options = {});
CharacterListing ListCharacterApart(const std::string& path, const CharacterOptions& options = {});

// The reader program's work: `arguments` (after the program's name) are the mode ("import" or
// "list"), the file, the rate (a number, 0: the file's), "1" or "0" for every clip, the memory
// limit in bytes (0: none) and the clips asked for. The answer goes to `out`, a fault's message
// to `err`; the exit code says which: 0 an answer, 1 a refused file, 2 bad options, 3 out of
// memory, 4 a wrong call.
int CharacterReaderMain(const std::vector<std::string>& arguments, std::ostream& out,
                        std::ostream& err);

}  // namespace headless
