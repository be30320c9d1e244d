#pragma once

// Clang thread-safety annotations (checked with -Wthread-safety); they expand
// to nothing for other compilers.
#if defined(__clang__)
#define ZELT_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZELT_THREAD_ANNOTATION(x)
#endif

#define ZELT_CAPABILITY(x) ZELT_THREAD_ANNOTATION(capability(x))
#define ZELT_SCOPED_CAPABILITY ZELT_THREAD_ANNOTATION(scoped_lockable)
#define ZELT_GUARDED_BY(x) ZELT_THREAD_ANNOTATION(guarded_by(x))
#define ZELT_REQUIRES(...) ZELT_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ZELT_ACQUIRE(...) ZELT_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ZELT_RELEASE(...) ZELT_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define ZELT_EXCLUDES(...) ZELT_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
