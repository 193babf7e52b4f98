/*
 * Orvo reader C API: find and open the reader, drive the card in it, and use the
 * reader's firmware, LED, buzzer and offline-store commands.
 *
 * Every function except DllOpenReader returns 0 on success. On failure it returns
 * a negative reader code (below) or, when writing or reading a USB report failed,
 * the operating system's error code (a positive errno value).
 *
 * Reader codes:
 *    -2  no matching reader found, or it cannot be opened (DllOpenReader)
 *    -4  the handle could not be closed (unknown or already closed)
 *    -5  the card's answer to reset is not valid
 *    -8  reader status 0x05 or 0x06
 *    -9  reader status 0x03
 *   -11  reader status 0xFE
 *   -13  reader status 0x04
 *   -14  reader status 0x01, or a reply frame whose checksum is wrong
 *   -20  reader status 0x08
 *   -21  reader status 0x09
 *   -22  reader status 0x0A
 *   -24  reader status 0x0B
 *   -25  reader status 0x0C
 *   -30  any other non-zero reader status
 *   -31  a frame too large: a request payload above its limit (or negative), or a
 *        reply payload larger than the area that receives it; nothing is sent or copied
 *   -32  a reply payload malformed for its operation
 *   -33  a null pointer where a buffer or an output is needed
 *
 * All functions are synchronous and share one process-wide last-error value: make
 * one call at a time per process.
 *
 * Other programs link libpelliton-reader (pkg-config pelliton-reader); on Windows,
 * pelliton-reader.dll through its import library. A program that links the static
 * pelliton_reader library and wants to export these names itself links it whole
 * (--whole-archive) and exports its dynamic symbols (-rdynamic), or, on Windows, adds
 * pelliton-reader.def to its link.
 *
 * On Windows a failed report transfer gives the system's error code (GetLastError);
 * the codes the link gives itself keep their C library values there (ETIMEDOUT 138,
 * EBADF 9, EIO 5 with MinGW-w64 and MSVC alike).
 */
#ifndef PELLITON_READER_API_H
#define PELLITON_READER_API_H

#include <stdint.h>

#if defined(_WIN32)
/* pelliton-reader.def names the exports; callers link the import library. */
#define PELLITON_READER_EXPORT
#else
#define PELLITON_READER_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The reader codes. Those named STATUS_ stand for the reader's status byte; what a
 * status means is the reader's own business, so they are named after the byte. */
#define PELLITON_READER_NOT_FOUND (-2)
#define PELLITON_READER_CLOSE_FAILED (-4)
#define PELLITON_READER_BAD_ATR (-5)
#define PELLITON_READER_STATUS_05_06 (-8)
#define PELLITON_READER_STATUS_03 (-9)
#define PELLITON_READER_STATUS_FE (-11)
#define PELLITON_READER_STATUS_04 (-13)
#define PELLITON_READER_BAD_CHECKSUM (-14) /* also reader status 0x01 */
#define PELLITON_READER_STATUS_08 (-20)
#define PELLITON_READER_STATUS_09 (-21)
#define PELLITON_READER_STATUS_0A (-22)
#define PELLITON_READER_STATUS_0B (-24)
#define PELLITON_READER_STATUS_0C (-25)
#define PELLITON_READER_STATUS_OTHER (-30)
#define PELLITON_READER_TOO_LARGE (-31)
#define PELLITON_READER_MALFORMED_REPLY (-32)
#define PELLITON_READER_NULL_ARGUMENT (-33)

/* "link failure" below: a positive errno of a failed report write or read (ETIMEDOUT
 * when no whole reply arrived within 20 seconds, EBADF for an unknown or closed
 * handle, EIO when the system gave no code or a read brought no frame byte), -8 to
 * -30 from the reader's status byte, -14 for a bad reply checksum, or -31 for a reply
 * payload larger than the receiving area. On any non-zero result no output is
 * written. */

/* Opens the first present reader (USB 0755:0001, version 0x0205) that can be opened.
 * Returns a positive handle, or -2 when there is none (or 64 handles are open). */
PELLITON_READER_EXPORT int32_t DllOpenReader(void);

/* Releases a handle. 0, or -4 for an unknown or already closed handle. */
PELLITON_READER_EXPORT int32_t DllCloseReader(int32_t handle);

/* Powers the card on (command 0x62). On 0 the answer to reset (2 to 33 bytes, first
 * byte 0x3B or 0x3F) is in atr (at least 33 bytes) and its length in *atr_length.
 * 0, -5 (answer not valid), -33 (null atr or atr_length), or a link failure. */
PELLITON_READER_EXPORT int32_t DllReset7816Card(int32_t handle, int32_t slot, uint8_t* atr,
                                                int32_t* atr_length);

/* Powers the card off (command 0x63). 0, or a link failure. */
PELLITON_READER_EXPORT int32_t Dll7816CardPowerdown(int32_t handle, int32_t slot);

/* Sends a command APDU (0 to 595 bytes) to the card (command 0x6F). On 0 the card's
 * response (data then SW1 SW2) is in response and its length in *response_length.
 * *response_length is output only: response must hold 594 bytes.
 * 0, -31 (command_length negative or above 595), -33 (null pointer), or a link
 * failure. */
PELLITON_READER_EXPORT int32_t Dll7816CardAPDU(int32_t handle, int32_t slot, const uint8_t* command,
                                               int32_t command_length, uint8_t* response,
                                               int32_t* response_length);

/* Card state (command 0x65): *state is 1 when bits 0 and 1 of the reader's state byte
 * are both 0 (card present and active), otherwise 0.
 * 0, -32 (empty reply), -33 (null state), or a link failure. */
PELLITON_READER_EXPORT int32_t DllGet7816CardState(int32_t handle, int32_t slot, uint8_t* state);

/* Firmware version (command 0x89): the version text, without a terminating zero, into
 * version_text (at least 276 bytes), its length into *text_length and the 16-bit
 * firmware number into *firmware_number.
 * 0, -32 (reply malformed: too short or its length field below 4 or beyond the
 * reply), -33 (null pointer), or a link failure. */
PELLITON_READER_EXPORT int32_t DllGetFirmwareVersion(int32_t handle, char* version_text,
                                                     uint32_t* text_length,
                                                     uint32_t* firmware_number);

/* Firmware download blocks (commands 0x8A start, 0x8B first, 0x8C block, 0x8D
 * complete), sent unchanged. Start, First and Complete pause 800 ms after a
 * successful reply; a failure returns at once.
 * 0, -31 (data_length negative or above 595; above 264 for Complete), -33 (null data
 * with a non-zero length), or a link failure. */
PELLITON_READER_EXPORT int32_t DllDownloadFirmwareStart(int32_t handle, const uint8_t* data,
                                                        int32_t data_length);
PELLITON_READER_EXPORT int32_t DllDownloadFirmwareFirst(int32_t handle, const uint8_t* data,
                                                        int32_t data_length);
PELLITON_READER_EXPORT int32_t DllDownloadFirmware(int32_t handle, const uint8_t* data,
                                                   int32_t data_length);
PELLITON_READER_EXPORT int32_t DllDownloadFirmwareComplete(int32_t handle, const uint8_t* data,
                                                           int32_t data_length);

/* LED (command 0x78) and buzzer (command 0x79): the value is passed to the reader.
 * 0, or a link failure. */
PELLITON_READER_EXPORT int32_t DllLedControl(int32_t handle, uint8_t value);
PELLITON_READER_EXPORT int32_t DllSpeakerControl(int32_t handle, uint8_t value);

/* Offline store file name (command 0x7A), without a terminating zero, into name (at
 * least 280 bytes), its length into *name_length.
 * 0, -33 (null pointer), or a link failure. */
PELLITON_READER_EXPORT int32_t DllGetOfflineFileName(int32_t handle, char* name,
                                                     uint32_t* name_length);

/* Sets the offline store file name (command 0x7B), 0 to 261 bytes, no terminating zero.
 * 0, -31 (name_length above 261), -33 (null name with a non-zero length), or a link
 * failure. */
PELLITON_READER_EXPORT int32_t DllSetOfflineFileName(int32_t handle, const char* name,
                                                     uint32_t name_length);

/* Erases the offline store (command 0x7C). 0, or a link failure. */
PELLITON_READER_EXPORT int32_t DllEraseOfflineData(int32_t handle);

/* Writes one offline record (command 0x7D): value, data_length, then the data.
 * 0, -33 (null data with a non-zero length), or a link failure. */
PELLITON_READER_EXPORT int32_t DllWriteOfflineData(int32_t handle, uint8_t value,
                                                   const uint8_t* data, uint8_t data_length);

/* Link functions: one request frame out, one reply frame in. They return 1 on
 * success and 0 on failure; the reason is kept process-wide for the operations above,
 * which return it as their result.
 *
 * SKSendData: writes the request frame (payload 0 to 595 bytes) as 64-byte reports,
 * after dropping any input reports still waiting. 0 on failure with, as the reason,
 * the errno of the failed write, EBADF (unknown handle), -31 (payload_length negative
 * or above 595) or -33 (null payload with a non-zero length); nothing is sent for the
 * last three.
 *
 * SKRevData: reads one reply frame and copies its payload to payload (which must hold
 * 594 bytes) and its length to *payload_length. The slot and command arguments do not
 * influence the result. 0 on failure with, as the reason, the errno of the failed
 * read (EIO when it brought no frame byte), ETIMEDOUT (no whole reply within 20
 * seconds), EBADF (unknown handle), a code of the reader's status byte (-8 to -30),
 * -14 (bad checksum), -31 (length field above 594) or -33 (null pointer); on failure
 * neither output is written. */
PELLITON_READER_EXPORT int32_t SKSendData(int32_t handle, int32_t slot, uint8_t command,
                                          const uint8_t* payload, int32_t payload_length);
PELLITON_READER_EXPORT int32_t SKRevData(int32_t handle, int32_t slot, uint8_t command,
                                         uint8_t* payload, int32_t* payload_length);

#ifdef __cplusplus
}
#endif

#endif /* PELLITON_READER_API_H */
