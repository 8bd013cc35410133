/* The version of the respmat library and tool. */
#ifndef RESPMAT_VERSION_H
#define RESPMAT_VERSION_H

#ifdef __cplusplus
extern "C" {
#endif

/* Returns the package version as "major.minor.patch", a static string. */
const char *respmat_version(void);

#ifdef __cplusplus
}
#endif

#endif
