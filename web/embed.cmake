# Writes OUT, a C++ source defining web::PageTemplate(): the page HTML with the module bundle put
# where it holds "/*tessamire:script*/". Run as: cmake -DHTML=... -DBUNDLE=... -DOUT=... -P embed.cmake
file(READ ${HTML} html)
file(READ ${BUNDLE} bundle)
string(FIND "${html}" "/*tessamire:script*/" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${HTML} has no /*tessamire:script*/ marker")
endif()
# The bundle sits inside a <script> element, which the first "</script" would close.
string(TOLOWER "${bundle}" lower)
string(FIND "${lower}" "</script" closes)
if(NOT closes EQUAL -1)
  message(FATAL_ERROR "${BUNDLE} holds \"</script\", which would end the page's script early")
endif()
string(REPLACE "/*tessamire:script*/" "${bundle}" page "${html}")
set(delimiter "tsmpage")
string(FIND "${page}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "the page holds the raw string's delimiter )${delimiter}\"")
endif()
# Adjacent raw string literals of at most 8 KiB each, so that no compiler meets one huge token.
string(LENGTH "${page}" length)
set(pieces "")
set(chunk 8192)
set(start 0)
while(start LESS length)
  string(SUBSTRING "${page}" ${start} ${chunk} piece)
  string(APPEND pieces "    R\"${delimiter}(${piece})${delimiter}\"\n")
  math(EXPR start "${start} + ${chunk}")
endwhile()
file(WRITE ${OUT}.tmp "// Generated from web/ by web/embed.cmake; do not edit.
#include \"web/page_template.h\"

namespace web {
namespace {
constexpr char kPage[] =
${pieces};
}  // namespace

std::string_view PageTemplate() { return {kPage, sizeof kPage - 1}; }

}  // namespace web
")
file(RENAME ${OUT}.tmp ${OUT})
