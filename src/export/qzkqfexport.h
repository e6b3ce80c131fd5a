/* The host interface of the KQF export plug-in (libqzkqfexport.so).
 *
 *   int32_t qzWideExport(int32_t Command, char16_t* Param, int32_t Reserved, char16_t* Msg);
 *
 * The host drives one export with numbered commands (see QZWE_CMD_*): 100 first, then 110 with the
 * stored configuration text, per document 200, 130, 300, 400 (one per index value, "name=value"),
 * 500 (one per page file), 600; 900 last. Every command runs on the thread that sent 100.
 *
 * Texts are zero-terminated UTF-16 (char16_t). Buffer capacities the library relies on, counted in
 * char16_t units including the terminating zero:
 *   Param  QZWE_PARAM_CAPACITY: read only by the commands that take a text (100, 110, 130, 300,
 *          400, 500), up to the terminating zero (an input without one within the capacity is
 *          refused); every other command leaves it unread, so its content does not matter. Output
 *          texts (105, 120, 550, 800, 850) are written whole or not at all: a text that does not
 *          fit is refused with -1 and a message, never cut.
 *   Msg    QZWE_MSG_CAPACITY: messages longer than that are cut (never inside a surrogate pair).
 * A null Param counts as an empty input; a null Msg receives nothing.
 *
 * Results: 0 done; -1 error (Msg may explain); -2 the document cannot be exported as it stands,
 * or test mode is on (Msg explains). Commands before 100 or after 900 return -1; a second 100
 * releases what the first one created. The library's load-time self tests never abort the host:
 * when one failed, every command returns -1 with its message.
 * Reserved is ignored.
 */
#ifndef QZKQFEXPORT_H
#define QZKQFEXPORT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QZWE_PARAM_CAPACITY 1048576
#define QZWE_MSG_CAPACITY 4096

enum {
  QZWE_CMD_INIT = 100,
  QZWE_CMD_GETVERSION = 105,
  QZWE_CMD_SETCONFIG = 110,
  QZWE_CMD_GETTEMPPATH = 120,
  QZWE_CMD_SETARCHIVE = 130,
  QZWE_CMD_NEWDOCUMENT = 200,
  QZWE_CMD_SETTITLE = 300,
  QZWE_CMD_ADDINDEX = 400,
  QZWE_CMD_ADDFILE = 500,
  QZWE_CMD_QUERYSUPPORT = 550,
  QZWE_CMD_EXPORT = 600,
  QZWE_CMD_CONFIGURE = 800,
  QZWE_CMD_GETCONFIG = 850,
  QZWE_CMD_DONE = 900
};

__attribute__((visibility("default"))) int32_t qzWideExport(int32_t Command, char16_t* Param, int32_t Reserved,
                                                            char16_t* Msg);

#ifdef __cplusplus
}
#endif

#endif
