#pragma once

// Clang thread-safety annotations (checked with -Wthread-safety); they expand
// to nothing for other compilers.
#if defined(__clang__)
#define ORVANE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORVANE_THREAD_ANNOTATION(x)
#endif

#define ORVANE_CAPABILITY(x) ORVANE_THREAD_ANNOTATION(capability(x))
#define ORVANE_SCOPED_CAPABILITY ORVANE_THREAD_ANNOTATION(scoped_lockable)
#define ORVANE_GUARDED_BY(x) ORVANE_THREAD_ANNOTATION(guarded_by(x))
#define ORVANE_REQUIRES(...) ORVANE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ORVANE_ACQUIRE(...) ORVANE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ORVANE_RELEASE(...) ORVANE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define ORVANE_EXCLUDES(...) ORVANE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ORVANE_ACQUIRED_AFTER(...) ORVANE_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define ORVANE_ACQUIRED_BEFORE(...) ORVANE_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ORVANE_RETURN_CAPABILITY(x) ORVANE_THREAD_ANNOTATION(lock_returned(x))
#define ORVANE_NO_THREAD_SAFETY_ANALYSIS ORVANE_THREAD_ANNOTATION(no_thread_safety_analysis)
