/* Host side of the POSIX platform layer: the spooler stand-in (printers opened by name with an output
 * and a printer-data store), file handles for machines written through plain file writes, and the
 * message sink. On Windows these roles belong to the system. */
#ifndef OSTRELIN_OSTRELIN_POSIX_H
#define OSTRELIN_OSTRELIN_POSIX_H

#include "ostrelin/ostrelin.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the printer `name`: its print jobs go to outputPath (created or truncated; "-" for standard
 * output) and its printer data persist in dataPath (created on the first stored value; NULL keeps
 * them in memory for this process). Writes reach the output in blocks of 64 KiB and at the end of each
 * print job (ostrelinPosixEndDocPrinter) or the close. Returns a printer handle for debut, or NULL. */
OSTRELIN_API void* ostrelinPosixOpenPrinter(const char* name, const char* outputPath, const char* dataPath) OSTRELIN_NOEXCEPT;
/* As ostrelinPosixOpenPrinter with an open descriptor for the output (not closed by the printer). */
OSTRELIN_API void* ostrelinPosixOpenPrinterFd(const char* name, int fd, const char* dataPath) OSTRELIN_NOEXCEPT;
/* Marks the current print job as complete: its bytes still held back by the printer reach the output,
 * and a later abort discards only what follows. 0 on success, -1 when the output refused bytes. */
OSTRELIN_API int ostrelinPosixEndDocPrinter(void* printer) OSTRELIN_NOEXCEPT;
/* Closes a printer handle after handing the bytes it still holds to the output; 0 on success, -1 when
 * the output refused them or could not be closed. */
OSTRELIN_API int ostrelinPosixClosePrinter(void* printer) OSTRELIN_NOEXCEPT;

/* Opens (creates or truncates) a file for a machine of kind 5 and returns its file handle, or NULL. */
OSTRELIN_API void* ostrelinPosixOpenFileHandle(const char* path) OSTRELIN_NOEXCEPT;
/* Closes such a handle; 0 on success. */
OSTRELIN_API int ostrelinPosixCloseFileHandle(void* file) OSTRELIN_NOEXCEPT;

/* Receives every message the engine shows (Windows-1252 text and the message box style). NULL
 * restores the default: the text on standard error, prefixed by the program name. */
typedef void (*OstrelinMessageCallback)(void* user, const char* text, uint32_t style);
OSTRELIN_API void ostrelinPosixSetMessageCallback(OstrelinMessageCallback callback, void* user) OSTRELIN_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* OSTRELIN_OSTRELIN_POSIX_H */
