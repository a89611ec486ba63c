#pragma once

// VELA_API marks what the shared library exports: the mapper class and nothing
// internal. Everything else is built with hidden visibility. A static build
// (VELA_STATIC_DEFINE) exports nothing and needs no decoration.
#if defined(VELA_STATIC_DEFINE)
#define VELA_API
#elif defined(_WIN32)
#if defined(VelaRunnerMapping_EXPORTS)
#define VELA_API __declspec(dllexport)
#else
#define VELA_API __declspec(dllimport)
#endif
#else
#define VELA_API __attribute__((visibility("default")))
#endif
