// The page `tessamire view` writes, as built into the program: web/page.html with the module
// build of web/*.js (three.js included) inlined, and the marker "/*tessamire:data*/" where the
// page's data goes (headless/io/page.h).
#pragma once

#include <string_view>

namespace web {

std::string_view PageTemplate();

}  // namespace web
