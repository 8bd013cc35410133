/* The version of the respmat library and tool. */
#ifndef RESPMAT_VERSION_H
#define RESPMAT_VERSION_H

#ifdef __cplusplus
extern "C" {
#endif

/* The library hides everything but these declarations. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* Returns the package version as "major.minor.patch", a static string. */
const char *respmat_version(void);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif
