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

/* What became of the printer command behind the last call's result. A call
 * that succeeded is DONE. A failed call is NOT_WRITTEN when nothing reached the
 * printer (a number too wide, a closed port, a printer that is off), REFUSED
 * when the printer answered and refused it, and MAY_HAVE_RUN when it was
 * written and then the line failed or the answer could not be read: only the
 * first two are safe to try again. */
#define TARVION_OUTCOME_DONE 0
#define TARVION_OUTCOME_NOT_WRITTEN 1
#define TARVION_OUTCOME_REFUSED 2
#define TARVION_OUTCOME_MAY_HAVE_RUN 3
/* The outcome of the last method the handle ran (property reads and writes
 * leave it as it is, so UltimoErro can be read first); TARVION_OUTCOME_DONE
 * before any, and for a NULL handle. */
TARVION_API int TARVION_CALL tarvion_last_outcome(tarvion_control* handle);

/* The dispatch entries, in dispatch-identifier order: their number, and the
 * name of entry i (0 <= i < count); NULL for any other i. */
TARVION_API int TARVION_CALL tarvion_entry_count(void);
TARVION_API const char* TARVION_CALL tarvion_entry_name(int index);

/* What an entry is, for hosts that build their bindings from the table. */
enum { TARVION_KIND_METHOD = 0, TARVION_KIND_GET = 1, TARVION_KIND_GETSET = 2 };
enum {
  TARVION_TYPE_VOID = 0,
  TARVION_TYPE_BOOL = 1, /* 16-bit: -1 (true) or 0 */
  TARVION_TYPE_SHORT = 2,
  TARVION_TYPE_LONG = 3, /* 32-bit */
  TARVION_TYPE_DOUBLE = 4,
  TARVION_TYPE_DATE = 5,
  TARVION_TYPE_STRING = 6
};
enum { TARVION_DIR_IN = 0, TARVION_DIR_OUT = 1, TARVION_DIR_INOUT = 2 };
/* How a string parameter is written in a JSON answer: a string, or (list) an
 * array of names; bytes are a string with one character per byte. */
enum { TARVION_FORM_PLAIN = 0, TARVION_FORM_LIST = 1, TARVION_FORM_BYTES = 2 };

/* Entry i: its kind and result type (either pointer may be NULL); returns its
 * number of parameters, or -1 for an i out of range. Indexed properties are
 * get entries with parameters. */
TARVION_API int TARVION_CALL tarvion_entry_info(int index, int* kind, int* result);
/* Parameter p of entry i: its name, with its type, direction and form (any
 * pointer may be NULL); NULL when either index is out of range. */
TARVION_API const char* TARVION_CALL tarvion_entry_param(int index, int param, int* type, int* dir, int* form);

/* Devices on a port. A program may put a device of its own behind a port
 * number of this library (a virtual printer, for instance: that is how
 * libtarvion-emulator attaches one); the drivers then talk to it as to the
 * printer on that port, in this process only. The device is a set of
 * callbacks, run on the thread of the control that talks to it while that
 * control holds the port; they must not call back into the control.
 *
 *   opened    the port was opened
 *   received  the control wrote these bytes; the device answers through wire,
 *             which is valid during this call only
 *   closed    the port was closed
 *   release   the library no longer uses the device (it was detached or
 *             replaced, and the port that had it open is closed): free context
 *
 * Any callback may be NULL. The wire runs on a simulated clock: answers take
 * no real time. */
typedef struct tarvion_wire tarvion_wire;
typedef struct tarvion_device {
  size_t size; /* sizeof(tarvion_device), so that the struct can grow */
  void* context;
  void(TARVION_CALL* opened)(void* context);
  void(TARVION_CALL* received)(void* context, const unsigned char* data, size_t size, tarvion_wire* wire);
  void(TARVION_CALL* closed)(void* context);
  void(TARVION_CALL* release)(void* context);
} tarvion_device;

/* Puts the device behind the port number (1..999 serial ports, 999 and up the
 * USB ones), replacing any device attached there before. The callbacks are
 * copied. Returns 0, or -1 for a NULL device, a size too small or a port below 1
 * (then release is not called). */
TARVION_API int TARVION_CALL tarvion_attach_device(int port, const tarvion_device* device);
/* Takes the device off the port; 0 when there was one, -1 when not. */
TARVION_API int TARVION_CALL tarvion_detach_device(int port);
/* Queues bytes for the control; they arrive delayMs after now on the wire's
 * clock, paced by the line's speed. */
TARVION_API void TARVION_CALL tarvion_wire_send(tarvion_wire* wire, const unsigned char* data, size_t size,
                                                unsigned delayMs);
/* The wire's clock in microseconds. */
TARVION_API long long TARVION_CALL tarvion_wire_now_us(tarvion_wire* wire);
/* Cuts the cable: every later call of the control on the port fails. */
TARVION_API void TARVION_CALL tarvion_wire_hang_up(tarvion_wire* wire);

#ifdef __cplusplus
}
#endif

#endif /* TARVION_TARVION_H */
