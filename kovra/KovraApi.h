#pragma once

// The executable exports the library's classes and functions by their
// decorated names; nothing inside the tool relies on those exports.
#if defined(_WIN32) && defined(KOVRA_EXPORTS)
#define KOVRA_API __declspec(dllexport)
#else
#define KOVRA_API
#endif
