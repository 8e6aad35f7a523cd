// Text that came from a file (names, notes, words quoted in messages) made safe for a terminal:
// a control character in it could otherwise move the cursor, recolour or retitle the terminal.
// And such names compared the way a user types them, in any case.
#pragma once

#include <string>
#include <string_view>

namespace headless {

// `text` with every control character (C0, DEL and the C1 range, raw or UTF-8 encoded) written
// as \xNN (a C1 character as its UTF-8 bytes); everything else, backslashes of Windows paths
// included, passes as it is.
std::string Printable(std::string_view text);

// `text` with the ASCII letters A to Z made lower case; every other byte as it is.
std::string LowerAscii(std::string_view text);

}  // namespace headless
