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
 */
#ifndef PELLITON_READER_API_H
#define PELLITON_READER_API_H

#include <stdint.h>

#if defined(_WIN32)
#define PELLITON_READER_EXPORT __declspec(dllexport)
#else
#define PELLITON_READER_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define PELLITON_READER_NOT_FOUND (-2)
#define PELLITON_READER_CLOSE_FAILED (-4)
#define PELLITON_READER_BAD_ATR (-5)
#define PELLITON_READER_BAD_CHECKSUM (-14)
#define PELLITON_READER_TOO_LARGE (-31)
#define PELLITON_READER_MALFORMED_REPLY (-32)
#define PELLITON_READER_NULL_ARGUMENT (-33)

PELLITON_READER_EXPORT int32_t DllOpenReader(void);
PELLITON_READER_EXPORT int32_t DllCloseReader(int32_t handle);
PELLITON_READER_EXPORT int32_t DllReset7816Card(int32_t handle, int32_t slot, uint8_t* atr,
                                                int32_t* atr_length);
PELLITON_READER_EXPORT int32_t Dll7816CardPowerdown(int32_t handle, int32_t slot);
PELLITON_READER_EXPORT int32_t Dll7816CardAPDU(int32_t handle, int32_t slot, const uint8_t* command,
                                               int32_t command_length, uint8_t* response,
                                               int32_t* response_length);
PELLITON_READER_EXPORT int32_t DllGet7816CardState(int32_t handle, int32_t slot, uint8_t* state);
PELLITON_READER_EXPORT int32_t DllGetFirmwareVersion(int32_t handle, char* version_text,
                                                     uint32_t* text_length,
                                                     uint32_t* firmware_number);
PELLITON_READER_EXPORT int32_t DllDownloadFirmwareStart(int32_t handle, const uint8_t* data,
                                                        int32_t data_length);
PELLITON_READER_EXPORT int32_t DllDownloadFirmwareFirst(int32_t handle, const uint8_t* data,
                                                        int32_t data_length);
PELLITON_READER_EXPORT int32_t DllDownloadFirmware(int32_t handle, const uint8_t* data,
                                                   int32_t data_length);
PELLITON_READER_EXPORT int32_t DllDownloadFirmwareComplete(int32_t handle, const uint8_t* data,
                                                           int32_t data_length);
PELLITON_READER_EXPORT int32_t DllLedControl(int32_t handle, uint8_t value);
PELLITON_READER_EXPORT int32_t DllSpeakerControl(int32_t handle, uint8_t value);
PELLITON_READER_EXPORT int32_t DllGetOfflineFileName(int32_t handle, char* name,
                                                     uint32_t* name_length);
PELLITON_READER_EXPORT int32_t DllSetOfflineFileName(int32_t handle, const char* name,
                                                     uint32_t name_length);
PELLITON_READER_EXPORT int32_t DllEraseOfflineData(int32_t handle);
PELLITON_READER_EXPORT int32_t DllWriteOfflineData(int32_t handle, uint8_t value,
                                                   const uint8_t* data, uint8_t data_length);

/* Link functions: one request frame out, one reply frame in. They return 1 on
 * success and 0 on failure; the reason is then what the operations above return. */
PELLITON_READER_EXPORT int32_t SKSendData(int32_t handle, int32_t slot, uint8_t command,
                                          const uint8_t* payload, int32_t payload_length);
PELLITON_READER_EXPORT int32_t SKRevData(int32_t handle, int32_t slot, uint8_t command,
                                         uint8_t* payload, int32_t* payload_length);

#ifdef __cplusplus
}
#endif

#endif /* PELLITON_READER_API_H */
