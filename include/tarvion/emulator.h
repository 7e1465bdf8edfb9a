/* Tarvion's virtual printers as a library: libtarvion-emulator puts a virtual
 * printer of a fiscal model behind a port number of the libtarvion this
 * process loaded, so that InitializeECF on that port talks to it. It keeps no
 * copy of the control: it reaches the ports through tarvion_attach_device.
 *
 * Strings are UTF-8 and NUL-terminated. The functions may be called from any
 * thread; a printer serves the control that opened its port. */
#ifndef TARVION_EMULATOR_H
#define TARVION_EMULATOR_H

#include <stddef.h>

#include "tarvion/tarvion.h"

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(TARVION_STATIC)
#define TARVION_EMULATOR_API
#elif defined(TARVION_EMULATOR_BUILDING)
#define TARVION_EMULATOR_API __declspec(dllexport)
#else
#define TARVION_EMULATOR_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define TARVION_EMULATOR_API __attribute__((visibility("default")))
#else
#define TARVION_EMULATOR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Attaches a virtual printer of the fiscal model number (InitializeECF's) to
 * the port, replacing any device there. Its fiscal state is kept in state_path
 * and its paper appended to paper_path; NULL or "" keeps either in memory.
 * Returns 0, or -1 with a message in error (copied like snprintf; error may be
 * NULL when error_size is 0): a model without a virtual printer, a port below
 * 1, a state file that cannot be read. The environment variable
 * TARVION_CHECK_DOCUMENT ("out", "in", "auto") sets the check station's
 * document as for the tool. */
TARVION_EMULATOR_API int TARVION_CALL tarvion_emulator_attach(int port, int model, const char* state_path,
                                                              const char* paper_path, char* error, size_t error_size);
/* Takes this library's printer off the port; 0 when there was one, else -1. */
TARVION_EMULATOR_API int TARVION_CALL tarvion_emulator_detach(int port);
/* What the printer on the port has printed so far, copied into out like
 * tarvion_call does (at most size - 1 bytes and a NUL); returns the length of
 * the whole text, 0 when the port has no printer of this library. */
TARVION_EMULATOR_API size_t TARVION_CALL tarvion_emulator_paper(int port, char* out, size_t size);
/* The fiscal model number of a model given as text: its number ("1") or its
 * name as the model table writes it (case and surrounding blanks ignored);
 * 0 when no virtual printer answers to it. */
TARVION_EMULATOR_API int TARVION_CALL tarvion_emulator_model(const char* name);

#ifdef __cplusplus
}
#endif

#endif /* TARVION_EMULATOR_H */
