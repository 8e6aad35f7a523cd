// TESSAMIRE_TESTS_SANITIZED is defined in builds under AddressSanitizer or ThreadSanitizer (gcc
// says so by a macro, clang by __has_feature), whose shadow memory changes what a process maps.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TESSAMIRE_TESTS_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TESSAMIRE_TESTS_SANITIZED 1
#endif
