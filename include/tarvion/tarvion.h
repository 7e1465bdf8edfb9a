/* Tarvion C interface: one control per handle, driven with the line language
 * of the tarvion shell ("Name arg ...", "Name = value"), one call per line.
 * Usable from C and from any language that can call C functions.
 *
 * Strings are UTF-8 and NUL-terminated. The answer of a call is the same text
 * the shell prints for the line (without the newline): a human line, or a JSON
 * object when json is non-zero, for example
 *   {"entry": "ExisteECF", "result": 13, "out": {}}
 *
 * A handle serves one caller at a time; different handles are independent. */
#ifndef TARVION_TARVION_H
#define TARVION_TARVION_H

#include <stddef.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(TARVION_STATIC)
#define TARVION_API
#elif defined(TARVION_BUILDING)
#define TARVION_API __declspec(dllexport)
#else
#define TARVION_API __declspec(dllimport)
#endif
/* Fixed so that 32-bit hosts which default to another convention still agree. */
#define TARVION_CALL __cdecl
#else
#if defined(__GNUC__) || defined(__clang__)
#define TARVION_API __attribute__((visibility("default")))
#else
#define TARVION_API
#endif
#define TARVION_CALL
#endif

/* The C++ interface (tarvion.hpp): exported from the ELF library, which hides
 * every symbol not marked, and from the DLL, which exports only what is marked
 * here and the entries of its .def file. Every source of the library is built
 * with TARVION_BUILDING, since a class cannot be defined where it is imported. */
#if defined(_WIN32) || defined(__CYGWIN__)
#define TARVION_CXX_API TARVION_API
#elif defined(__GNUC__) || defined(__clang__)
#define TARVION_CXX_API __attribute__((visibility("default")))
#else
#define TARVION_CXX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tarvion_control tarvion_control;

/* A new control without printers; NULL when it cannot be created. */
TARVION_API tarvion_control* TARVION_CALL tarvion_create(void);
/* Closes the control's ports and frees it; NULL is ignored. */
TARVION_API void TARVION_CALL tarvion_destroy(tarvion_control* handle);

/* Runs one line on the control and copies its answer into out, like snprintf:
 * at most outSize - 1 bytes and a terminating NUL when outSize > 0, nothing
 * when outSize is 0 (out may then be NULL). Returns the length of the whole
 * answer; when that is outSize or more the answer was cut, and
 * tarvion_last_output fetches it whole without calling the printer again.
 * Blank and comment lines give an empty answer. */
TARVION_API size_t TARVION_CALL tarvion_call(tarvion_control* handle, const char* line, int json, char* out,
                                             size_t outSize);
/* The answer of the handle's last tarvion_call, copied as tarvion_call does. */
TARVION_API size_t TARVION_CALL tarvion_last_output(tarvion_control* handle, char* out, size_t outSize);
/* 0 when the last line was understood (or nothing was run yet), 2 when it was
 * not, the same value the shell exits with; 2 for a NULL handle. */
TARVION_API int TARVION_CALL tarvion_last_status(tarvion_control* handle);

/* The dispatch entries, in dispatch-identifier order: their number, and the
 * name of entry i (0 <= i < count); NULL for any other i. */
TARVION_API int TARVION_CALL tarvion_entry_count(void);
TARVION_API const char* TARVION_CALL tarvion_entry_name(int index);

#ifdef __cplusplus
}
#endif

#endif /* TARVION_TARVION_H */
