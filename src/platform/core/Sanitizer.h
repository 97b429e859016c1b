#pragma once

// LUMRA_ADDRESS_SANITIZER: built with AddressSanitizer (GCC says so one way, Clang another).
#if defined(__SANITIZE_ADDRESS__)
#define LUMRA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMRA_ADDRESS_SANITIZER 1
#endif
#endif
