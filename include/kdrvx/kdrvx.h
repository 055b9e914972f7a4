/*
 * KDRVXLibrary: reading, creating and modifying RVX measurement files.
 *
 * The library keeps one module-wide state: a debug mask, the last error and
 * three independent contexts (read, create, modify). There are no handles;
 * call the functions from one thread at a time.
 *
 * Text crossing this interface is zero-terminated UTF-16. A caller's text
 * buffer is a pointer plus a capacity in UTF-16 units, terminator included.
 */
#ifndef KDRVX_KDRVX_H
#define KDRVX_KDRVX_H

#include <stdint.h>

#if defined(_WIN32)
typedef wchar_t KDRVX_CHAR; /* UTF-16 code unit */
#elif defined(__cplusplus)
typedef char16_t KDRVX_CHAR; /* UTF-16 code unit */
#else
typedef uint16_t KDRVX_CHAR; /* UTF-16 code unit */
#endif

/* On Windows the exported names come from the module-definition file. */
#if !defined(_WIN32) && defined(KDRVX_BUILDING_LIBRARY) && defined(__GNUC__)
#define KDRVX_API __attribute__((visibility("default")))
#else
#define KDRVX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. 0 is success. */
#define KDRVX_OK                              0x00000000u
#define KDRVX_ERR_RVX_NEWER_VERSION           0xE1000001u
#define KDRVX_ERR_RVX_INVALID_HEADER          0xE1000002u
#define KDRVX_ERR_RVX_STILL_OPEN_READ         0xE1000003u
#define KDRVX_ERR_RVX_READ_FIRST              0xE1000004u
#define KDRVX_ERR_RVX_NOT_OPEN_READ           0xE1000005u
#define KDRVX_ERR_RVX_OPEN_READ               0xE1000006u
#define KDRVX_ERR_RVX_CHN_UNKNOWN             0xE1000007u
#define KDRVX_ERR_RVX_ALREADY_EXISTS          0xE1000008u
#define KDRVX_ERR_RVX_CREATE                  0xE1000009u
#define KDRVX_ERR_RVX_STILL_OPEN_WRITE        0xE100000Au
#define KDRVX_ERR_RVX_NOT_OPEN_WRITE          0xE100000Bu
#define KDRVX_ERR_RVX_NUMBER_OF_CHANNELS      0xE100000Cu
#define KDRVX_ERR_RVX_CHN_VAR                 0xE100000Du
#define KDRVX_ERR_RVX_CHN_UNIT                0xE100000Eu
#define KDRVX_ERR_RVX_CHN_VAR_EXISTS          0xE100000Fu
#define KDRVX_ERR_RVX_CHANNEL_ADD             0xE1000010u
#define KDRVX_ERR_RVX_CHN_NAME                0xE1000011u
#define KDRVX_ERR_RVX_CHN_NUMBER              0xE1000012u
#define KDRVX_ERR_RVX_CHN_SIGNAL              0xE1000013u
#define KDRVX_ERR_RVX_CHN_ZERO                0xE1000014u
#define KDRVX_ERR_RVX_CHN_CALPARA             0xE1000015u
#define KDRVX_ERR_RVX_CHN_FILTER              0xE1000016u
#define KDRVX_ERR_RVX_CHN_LINTAB              0xE1000017u
#define KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH 0xE1000018u
#define KDRVX_ERR_RVX_DATE                    0xE1000019u
#define KDRVX_ERR_RVX_TIME                    0xE100001Au
#define KDRVX_ERR_RVX_OPEN_WRITE              0xE100001Bu
#define KDRVX_ERR_RVX_OPEN_MODIFY             0xE100001Cu
#define KDRVX_ERR_RVX_STILL_OPEN_MODIFY       0xE100001Du
#define KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE     0xE100001Eu
#define KDRVX_ERR_RVX_NOT_OPEN_MODIFY         0xE100001Fu
#define KDRVX_ERR_RVX_SHARING_VIOLATION       0xE1000020u
#define KDRVX_ERR_RVX_DEVELOPER_VERSION       0xE1000021u
#define KDRVX_ERR_RVX_INVALID_ERROR_CODE      0xE1000022u
#define KDRVX_ERR_RVX_OLD_FORMAT              0xE1000023u
#define KDRVX_ERR_RVI_FILE_NAME               0xE1000024u
#define KDRVX_ERR_RVI_CREATE                  0xE1000025u
#define KDRVX_ERR_RVX_MULTICHANNEL_BITS       0xE1000026u
#define KDRVX_ERR_RVX_UNIT_LENGTH             0xE1000027u

/* Debug mask bits for KDRVX_SetDebugMask. */
#define KDRVX_DEBUG_ERRORS  0x0004
#define KDRVX_DEBUG_CALLS   0x0008
#define KDRVX_DEBUG_DETAILS 0x8000

/* Capacities of the header and channel texts in UTF-16 units, terminator
   included: the sizes of the fields of the current layout. The library
   writes at most capacity - 1 units into a field; a field of a damaged file
   may fill all of them, and the queries deliver it whole into a buffer of
   capacity + 1 units. */
#define KDRVX_COMMENT_CAPACITY               292
#define KDRVX_COMPANY_CAPACITY               64
#define KDRVX_INSTRUMENT_CAPACITY            64
#define KDRVX_SNR_INSTRUMENT_CAPACITY        16
#define KDRVX_NAME_MEASUREMENT_CAPACITY      24
#define KDRVX_TRIGGER_SETTING_CAPACITY       64
#define KDRVX_CHANNEL_UNIT_CAPACITY          12
#define KDRVX_CHANNEL_NAME_CAPACITY          24
#define KDRVX_CHANNEL_NUMBER_CAPACITY        4
#define KDRVX_CHANNEL_SIGNAL_TYPE_CAPACITY   32
#define KDRVX_CHANNEL_ZERO_POINT_CAPACITY    16
#define KDRVX_CHANNEL_CAL_PARAMETER_CAPACITY 128
#define KDRVX_CHANNEL_FILTER_CAPACITY        32
#define KDRVX_CHANNEL_LINTAB_CAPACITY        200
/* A variable as KDRVX_GetChannelVariable delivers it: at most 6 units
   ("dp-128"), which that query writes without a terminator. */
#define KDRVX_CHANNEL_VARIABLE_CAPACITY      7
/* KDRVX_GetDate: "DD.MM.YYYY"; KDRVX_GetTime: "HH:MM:SS" or "HH:MM". */
#define KDRVX_DATE_CAPACITY                  11
#define KDRVX_TIME_CAPACITY                  10

/* Record kinds reported by KDRVX_GetDataLayout. */
#define KDRVX_RECORD_KIND_FLOATS 0u /* one float per channel */
#define KDRVX_RECORD_KIND_DOS    1u /* DOS decimal records */
#define KDRVX_RECORD_KIND_SPARSE 2u /* sparse WIN 2.x records */

/* the library as a whole */
KDRVX_API uint32_t KDRVX_SetDebugMask(int16_t mask);
KDRVX_API uint32_t KDRVX_GetLastError(void);
KDRVX_API uint32_t KDRVX_LibVersion(KDRVX_CHAR *text, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetErrorString(KDRVX_CHAR *text, uint16_t capacity, uint32_t code);
KDRVX_API void     KDRVX_DeleteFile(const KDRVX_CHAR *path);

/* Where trace lines go. NULL restores the platform default
   (Windows: OutputDebugStringW; elsewhere: discarded). The line is
   zero-terminated and carries no line terminator. */
typedef void (*KDRVX_TraceSink)(const KDRVX_CHAR *line, void *context);
KDRVX_API void     KDRVX_SetTraceSink(KDRVX_TraceSink sink, void *context);

/* reading */
KDRVX_API uint32_t KDRVX_OpenRead(const KDRVX_CHAR *path);
KDRVX_API uint32_t KDRVX_CloseRead(void);
KDRVX_API uint32_t KDRVX_CheckOriginalFlag(uint8_t *original);
KDRVX_API uint32_t KDRVX_GetDate(KDRVX_CHAR *text); /* room for KDRVX_DATE_CAPACITY */
KDRVX_API uint32_t KDRVX_GetTime(KDRVX_CHAR *text); /* room for KDRVX_TIME_CAPACITY */
KDRVX_API uint32_t KDRVX_GetComment(KDRVX_CHAR *text, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetCompany(KDRVX_CHAR *text, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetInstrument(KDRVX_CHAR *text, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetSnrInstrument(KDRVX_CHAR *text, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetNameMeasurement(KDRVX_CHAR *text, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetTriggerSetting(KDRVX_CHAR *text, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetChannelVariable(KDRVX_CHAR *text, int16_t channel, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetChannelUnit(KDRVX_CHAR *text, int16_t channel, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetChannelName(KDRVX_CHAR *text, int16_t channel, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetChannelNumber(KDRVX_CHAR *text, int16_t channel, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetChannelSignalType(KDRVX_CHAR *text, int16_t channel, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetChannelZeroPoint(KDRVX_CHAR *text, int16_t channel, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetChannelCalParameter(KDRVX_CHAR *text, int16_t channel, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetChannelFilter(KDRVX_CHAR *text, int16_t channel, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetChannelLintab(KDRVX_CHAR *text, int16_t channel, uint16_t capacity);
KDRVX_API uint32_t KDRVX_GetVersion(void);
KDRVX_API uint32_t KDRVX_GetNoRecords(void);
KDRVX_API int64_t  KDRVX_GetScanRate(void);
KDRVX_API uint32_t KDRVX_GetNoChannels(void);
KDRVX_API uint32_t KDRVX_GetNoTriggerRecord(void);
KDRVX_API uint32_t KDRVX_GetFlagStatistics(void);
KDRVX_API uint32_t KDRVX_GetChannelIndRate(int16_t channel);
KDRVX_API float    KDRVX_GetChannelMinValue(int16_t channel);
KDRVX_API float    KDRVX_GetChannelMaxValue(int16_t channel);
KDRVX_API float    KDRVX_GetChannelMeanValue(int16_t channel);
KDRVX_API float    KDRVX_GetChannelRMSValue(int16_t channel);
KDRVX_API float    KDRVX_GetChannelSDevValue(int16_t channel);
KDRVX_API int32_t  KDRVX_GetNumberMultiChannelBits(int16_t channel);
KDRVX_API int32_t  KDRVX_IsChannelISDS(int16_t channel);
KDRVX_API int32_t  KDRVX_IsChannelLinearisation(int16_t channel);
KDRVX_API int32_t  KDRVX_IsChannelMultiChannel(int16_t channel);
KDRVX_API int32_t  KDRVX_IsAnyMultiChannelinRVX(void);
KDRVX_API uint32_t KDRVX_ReadFirstRecord(float *record);
KDRVX_API uint32_t KDRVX_ReadNextRecord(float *record);
KDRVX_API int64_t  KDRVX_ReadRecords(int64_t first, uint32_t count, void *buffer);

/* How the records of the file open for reading are stored: the byte offset
   of the first record in the file, the size of one stored record in bytes,
   and its kind (KDRVX_RECORD_KIND_...): one little-endian IEEE 754 float per
   channel, as KDRVX_ReadRecords delivers them, or one of the two older kinds
   that only the single-record readers convert. Any pointer may be NULL.
   Returns 0, or KDRVX_ERR_RVX_NOT_OPEN_READ when no file is open for
   reading. Writes no entry line and leaves the last error alone. */
KDRVX_API uint32_t KDRVX_GetDataLayout(uint64_t *dataOffset, uint32_t *recordSize,
                                       uint32_t *recordKind);

/* creating */
KDRVX_API uint32_t KDRVX_CreateExt(KDRVX_CHAR *path, uint8_t overwrite, uint8_t original,
                                   uint8_t legacyLayout, int32_t language);
KDRVX_API uint32_t KDRVX_Create(KDRVX_CHAR *path, uint8_t overwrite, uint8_t original);
KDRVX_API uint32_t KDRVX_Reset(void);
KDRVX_API uint32_t KDRVX_SetCompany(const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetInstrument(const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetSnrInstrument(const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetNameMeasurement(const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetTriggerSetting(const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetComment(const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetDate(const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetTime(const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetScanRate(int64_t microseconds);
KDRVX_API uint32_t KDRVX_SetNoTriggerRecord(uint32_t record);
KDRVX_API uint32_t KDRVX_AddChannel(const KDRVX_CHAR *variable);
KDRVX_API uint32_t KDRVX_SetChannelVariable(int16_t channel, const KDRVX_CHAR *variable);
KDRVX_API uint32_t KDRVX_SetChannelUnit(int16_t channel, const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetChannelName(int16_t channel, const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetChannelNumber(int16_t channel, const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetChannelSignalType(int16_t channel, const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetChannelZeroPoint(int16_t channel, const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetChannelCalParameter(int16_t channel, const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetChannelFilter(int16_t channel, const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetChannelLintab(int16_t channel, const KDRVX_CHAR *text);
KDRVX_API uint32_t KDRVX_SetChannelIndRate(int16_t channel, uint32_t divisor);
KDRVX_API uint32_t KDRVX_SetChannelISDS(int16_t channel, int16_t value);
KDRVX_API uint32_t KDRVX_SetChannelLinearisation(int16_t channel, int16_t value);
KDRVX_API uint32_t KDRVX_SetChannelMultiChannel(int16_t channel, uint16_t bits);
KDRVX_API uint32_t KDRVX_ConvertMultiChannelValue(float value);
KDRVX_API uint32_t KDRVX_AddRecord(const float *record);
KDRVX_API uint32_t KDRVX_Update(void);
KDRVX_API uint32_t KDRVX_WriteDataBlock(const void *data, int32_t offset, uint16_t count);
KDRVX_API uint32_t KDRVX_CloseCreate(void);
KDRVX_API uint32_t KDRVX_CloseCreateSimple(void);

/* modifying */
KDRVX_API uint32_t KDRVX_OpenModify(const KDRVX_CHAR *path);
KDRVX_API uint32_t KDRVX_ModifyComment(KDRVX_CHAR *current /* KDRVX_COMMENT_CAPACITY */,
                                       const KDRVX_CHAR *comment);
KDRVX_API uint32_t KDRVX_ModifyNameMeasurement(
    KDRVX_CHAR *current /* KDRVX_NAME_MEASUREMENT_CAPACITY */, const KDRVX_CHAR *name);
KDRVX_API uint32_t KDRVX_CloseModify(void);

#ifdef __cplusplus
}
#endif

#endif /* KDRVX_KDRVX_H */
