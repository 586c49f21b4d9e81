#pragma once

// The executable exports the library's classes and functions by their
// decorated names; nothing inside the tool relies on those exports. Only the
// build of the library that goes into vrek.exe defines KOVRA_EXPORTS: the
// installed library, and every program built against it, exports nothing.
#if defined(_WIN32) && defined(KOVRA_EXPORTS)
#define KOVRA_API __declspec(dllexport)
#else
#define KOVRA_API
#endif
