// A quick look at an OBJ file that should be a frame of a rest mesh (the rest's points moved, its
// faces as they were), for reading the frames of a long sequence without parsing and holding each
// one whole: one pass over the text a piece at a time, storing nothing but what is asked for.
//
// The look is sure only of what it understands: `v` lines of plain decimal numbers (an optional
// sign, digits with an optional point inside, an optional exponent of one or two digits, at most
// 40 digits in all, so that every coordinate lies in the range the plug-in takes), `vt` and `vn`
// lines of such numbers, faces naming the rest's points corner for corner (with texture
// coordinates and normals in range), and any other statement. (Coordinates it keeps, below, it
// reads as the reader does, so any number the reader takes does.) Anything else, and any fault,
// makes it unsure; the caller then reads the file in full, which finds the fault and names it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "headless/io/obj.h"
#include "headless/platform/files.h"

namespace headless {

// The text of a rest mesh's faces, from the line of its first face to the end of its file, where
// nothing there adds points, texture coordinates or normals: a frame written by the same
// application ends in the very same bytes, which the look compares with the rest's file instead of
// reading its faces (a fifth of a frame's look). The rest's file is read again for it, and taken
// only while the file stays as it was (identity, length, times) when its text was found the same.
struct RestFaceText {
  std::string path;
  Int64 begin = 0;                    // where the first face's line begins ("f " at its start)
  Int64 texcoords = 0;                // `vt` lines, all before it
  std::vector<TextSpan> mtllibSpans;  // the names of `mtllib` lines after it, from `begin`
  Int64 fileBytes = 0;                // the whole file's
  platform::FileVersion version;      // the file's when its text was found the same
};

// The face text of `rest`, read from a file and holding its text; none where it has no face, has
// normals (whose frames the look does not keep), or adds points, texture coordinates or normals
// after its first face, or where its file no longer ends in that text.
std::optional<RestFaceText> RestFaceTextOf(const ObjFile& rest);

// Whether the file at `path` holds, from `from` to its end, the very bytes of `faces`, the rest's
// file unchanged since.
bool EndsInRestFaces(const std::string& path, Int64 from, const RestFaceText& faces);

// True only when ReadObjFile(path) surely succeeds and gives `points` points (all 0 or between
// kSmallestCoordinate and kLargestCoordinate in size) and faces CheckSameFaces finds the same as
// `rest`'s. False when it is not sure: the file may still be such a frame. A file that is not a
// regular file (the standard input, a pipe) is never looked at: false.
//
// With `keep`, the look also keeps what writing a result like the file needs (WriteObjLike), as
// ReadObjFile would read it: the name, the length of the text (the text itself is not held, so
// writing reads it again from the file), the points, where each `v` line's coordinates stand and
// each `mtllib` line's file names. Where it answers false, `keep` holds nothing of use; a file
// with normals (`vn`), which turn with the faces, answers false then. What `keep` held goes
// first, but the room of its points and their places, which is used again.
//
// With `faces`, the rest's face text, a frame whose text from its first face on is the rest's,
// with as many texture coordinates before, has the rest's faces without reading them.
bool SurelyFrameOf(const std::string& path, const ObjFile& rest, size_t points,
                   ObjFile* keep = nullptr, const RestFaceText* faces = nullptr);

}  // namespace headless
