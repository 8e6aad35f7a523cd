// The rest mesh's OBJ file as a batch run holds it: read and checked once, then kept whole only
// as long as someone needs its text or its faces (frames checked against them, a result written
// like the rest, a glTF of its own vertices).
#pragma once

#include <string>

#include "headless/io/obj.h"

namespace headless {

// The OBJ file at `path` (the standard input for "-"), its faces without the room they grew by,
// every coordinate checked to lie in the range the plug-in takes. Throws as ReadObjFile and
// CheckCoordinateRange, naming `path`.
ObjFile ReadRestFile(const std::string& path);

// Lets go of an OBJ file's text and where its `v` lines stand (a result is then not written like
// it).
void ReleaseObjText(ObjFile& file);

// Lets go of an OBJ file's faces as written (as a file without faces has them); its polygons stay.
void ReleaseObjFaces(ObjFile& file);

}  // namespace headless
