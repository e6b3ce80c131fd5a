/* The C interface of the configuration dialog library (libqzkqfexportdlg.so), which the export
 * plug-in loads with dlopen for command 800 so that the plug-in itself never links a GUI toolkit.
 *
 *   int32_t qzShowConfigDialog(const char16_t* settings, char16_t** text,
 *                              char16_t* message, int32_t messageCapacity);
 *
 * `settings`: the settings in force, as the plug-in encodes them (EncodeDialogSettings in
 * qzConfigDialogLink.h): zero-terminated "KEY=value" entries one after the other, ended by an
 * empty entry. Shows the modal dialog "Exportservice" on the calling thread (a QApplication is
 * created there when the process has none). Results:
 *    1  Ok: *text receives the new configuration text (zero-terminated UTF-16, to be released with
 *       qzFreeConfigDialogText);
 *    0  Cancel: *text is left null;
 *   -1  the dialog could not be shown (no display, no usable platform plug-in): `message` (of
 *       messageCapacity units including the zero) says why.
 */
#ifndef QZCONFIGDIALOGAPI_H
#define QZCONFIGDIALOGAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QZ_CONFIG_DIALOG_LIBRARY "libqzkqfexportdlg.so"

typedef int32_t (*QzShowConfigDialogFn)(const char16_t* settings, char16_t** text, char16_t* message,
                                        int32_t messageCapacity);
typedef void (*QzFreeConfigDialogTextFn)(char16_t* text);

__attribute__((visibility("default"))) int32_t qzShowConfigDialog(const char16_t* settings, char16_t** text,
                                                                  char16_t* message, int32_t messageCapacity);
__attribute__((visibility("default"))) void qzFreeConfigDialogText(char16_t* text);

#ifdef __cplusplus
}
#endif

#endif
