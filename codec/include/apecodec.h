/*
 * apecodec.h: the C interface of the codec library MACDllC.dll.
 *
 * A caller loads the library at run time and resolves the ten functions below
 * by their undecorated names. Every function that takes a pointer for a result
 * (an error code or a count) always writes it, on success and on failure, so a
 * caller never has to initialise it. Integers are 32-bit; positions and counts
 * are in blocks (one sample for every channel).
 */
#ifndef APECODEC_H
#define APECODEC_H

#include <stdint.h>

#if defined(_WIN32)
#define APECODEC_CALL __stdcall
#else
#define APECODEC_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void* APE_DECOMPRESS_HANDLE;
typedef void* APE_TAG_HANDLE;

/* The interface version callers ask GetInterfaceCompatibility for. */
#define APE_INTERFACE_VERSION 3970
/* What GetVersionNumber reports: the newest file version that is decoded. */
#define APE_CODEC_VERSION 3990

/* Field identifiers of c_APEDecompress_GetInfo (parameters 1 and 2 unused,
 * except where said). */
#define APE_INFO_FILE_VERSION 1000      /* e.g. 3990 */
#define APE_INFO_COMPRESSION_LEVEL 1001 /* 1000 .. 5000 */
#define APE_INFO_FORMAT_FLAGS 1002
#define APE_INFO_SAMPLE_RATE 1003     /* blocks per second */
#define APE_INFO_BITS_PER_SAMPLE 1004 /* 8, 16 or 24 */
#define APE_INFO_BYTES_PER_SAMPLE 1005
#define APE_INFO_CHANNELS 1006    /* 1 or 2 */
#define APE_INFO_BLOCK_ALIGN 1007 /* bytes of PCM per block */
#define APE_INFO_BLOCKS_PER_FRAME 1008
#define APE_INFO_FINAL_FRAME_BLOCKS 1009
#define APE_INFO_TOTAL_FRAMES 1010
#define APE_INFO_CURRENT_BLOCK 2000 /* the block the next GetData starts at */
#define APE_INFO_CURRENT_MS 2001
#define APE_INFO_TOTAL_BLOCKS 2002
#define APE_INFO_LENGTH_MS 2003
/* Parameter 1: a block (read as unsigned). How many blocks a Seek there would
 * decode before it returns, 0 when none: a caller that must stay able to give
 * up approaches a far block by seeks on within its frame. */
#define APE_INFO_SEEK_DECODING_LEAD 2004

/* Error codes. */
#define APE_SUCCESS 0
#define APE_ERROR_IO_READ 1000
#define APE_ERROR_INVALID_INPUT_FILE 1002
#define APE_ERROR_INPUT_FILE_TOO_LARGE 1004
#define APE_ERROR_INVALID_CHECKSUM 1009
#define APE_ERROR_DECOMPRESSING_FRAME 1010
#define APE_ERROR_INVALID_FUNCTION_PARAMETER 1012
#define APE_ERROR_UNSUPPORTED_FILE_TYPE 1013
#define APE_ERROR_INSUFFICIENT_MEMORY 2000
#define APE_ERROR_BAD_PARAMETER 5000
/* Result of the tag functions for a field the tag does not hold. */
#define APE_TAG_FIELD_MISSING (-1)

/* The newest file version decoded (APE_CODEC_VERSION). */
int APECODEC_CALL GetVersionNumber(void);
/* 0 when the library serves `version`, otherwise an error code. Never shows
 * a window, whatever `showWarnings` says. */
int APECODEC_CALL GetInterfaceCompatibility(int version, int showWarnings, void* parentWindow);

/* Opens a file (ANSI name). Null on failure; *errorCode says why. */
APE_DECOMPRESS_HANDLE APECODEC_CALL c_APEDecompress_Create(const char* fileName, int* errorCode);
void APECODEC_CALL c_APEDecompress_Destroy(APE_DECOMPRESS_HANDLE handle);
/* Decodes up to `blocks` blocks into `buffer` (interleaved little-endian PCM,
 * 8-bit unsigned); *delivered receives the count, 0 at the end of the data. */
int APECODEC_CALL c_APEDecompress_GetData(APE_DECOMPRESS_HANDLE handle, char* buffer, int blocks, int* delivered);
/* Positions at `block` (0 .. total, read as unsigned). Sample-accurate. */
int APECODEC_CALL c_APEDecompress_Seek(APE_DECOMPRESS_HANDLE handle, int block);
/* The value of an information field; -1 for a null handle. */
int APECODEC_CALL c_APEDecompress_GetInfo(APE_DECOMPRESS_HANDLE handle, int field, int parameter1, int parameter2);
/* The file's tag; valid while the decompressor lives. A file without a tag
 * still gets a handle (every field is then missing). */
APE_TAG_HANDLE APECODEC_CALL c_APEDecompress_GetTag(APE_DECOMPRESS_HANDLE handle, int* errorCode);
/* Byte count of a field's value (no terminator), or -1 when it is missing.
 * Keys compare case-insensitively. */
int APECODEC_CALL c_APETag_GetFieldSize(APE_TAG_HANDLE tag, const char* field);
/* Copies a field's value; a NUL is appended when the capacity allows. 0 on
 * success, -1 when the field is missing, APE_ERROR_BAD_PARAMETER when the
 * capacity is too small (then *capacity receives the size needed) or when
 * buffer or capacity is null, even for a value of 0 bytes. A null tag or
 * field reads as a missing field. */
int APECODEC_CALL c_APETag_GetFieldData(APE_TAG_HANDLE tag, const char* field, char* buffer, int* capacity);

#ifdef __cplusplus
}
#endif

#endif
