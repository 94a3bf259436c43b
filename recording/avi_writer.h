// Recording a client into an AVI file: the thin layer over the AVIFile library.
//
// Each operation reports its own failure in an application message box, with the library's
// error code as a signed number, and returns FALSE; all run on the user-interface thread.
#pragma once

#include "platform/avifile/avifile.h"
#include "platform/kernel/windef.h"

// Starts the library; below video library 1.10 it beeps, shows "Sorry, Cant't init AVI File !"
// in an owner-less box and returns FALSE without starting it.
BOOL AVI_Init();
void AVI_Exit();

// Opens (creates or truncates) `szName` for writing.
BOOL AVI_FileOpenWrite(PAVIFILE* ppFile, const char* szName);

// Creates the file's video stream: handler "xvid", `nRate` frames per second (scale 1), the
// suggested buffer size, and a frame rectangle of nRectWidth x nRectHeight at 0, 0.
BOOL AVI_CreateStream(PAVIFILE pFile, PAVISTREAM* ppStream, int nRate, int nSuggestedBufferSize,
                      int nRectWidth, int nRectHeight);

// Sets the stream's format: uncompressed 24-bit pictures of nWidth x nHeight, bottom row first.
BOOL AVI_SetOptions(PAVISTREAM pStream, int nWidth, int nHeight);

// Writes one frame of lBytes at sample position lPosition, flagged AVIIF_KEYFRAME or 0.
BOOL AVI_AddFrame(PAVISTREAM pStream, LONG lPosition, const void* pBits, LONG lBytes, DWORD dwFlags);

// Releases the file, then the stream, each when it is not none; both become none. The file is
// completed when the last of them goes.
void AVI_CloseFile(PAVIFILE* ppFile, PAVISTREAM* ppStream);

// Whether pictures of this output size can be recorded: positive, within what a decoder is made for,
// and no larger than the picture buffer they are decoded into (so their byte count never wraps).
bool IsRecordableSize(int nWidth, int nHeight);

// A client's recording set-up, as adding a client with a file name runs it: open, create the
// stream (half the send frame rate, 10240 bytes suggested, the capture size as the frame
// rectangle), set the format (the output size). Each failure is followed by the adding's own
// box ("AVI_FileOpenWrite failed", "AVI_CreateStream failed", "AVI_SetOptions failed"); a failed
// open ends the set-up, the others do not. An output size that cannot be recorded is refused before
// a file is made, with the boxes of a refused format. Answers whether the file is open, so whether
// the client records (and gets its decoder); the file and whatever stream exists are handed back.
BOOL AVI_SetUpRecording(const char* szFileName, int nSendFrameRate, int nInWidth, int nInHeight,
                        int nOutWidth, int nOutHeight, PAVIFILE* ppFile, PAVISTREAM* ppStream);

// The boxes of a failed open ("Error: AVIFileOpen, error %d", then "AVI_FileOpenWrite failed"),
// for a control that records nothing because it could not start the library.
void AVI_ReportOpenFailure(HRESULT hr);

// The recording path's write of one decoded picture (lBytes: output width x height x 3) to a
// client's stream: at position *plFramesWritten, which then goes up by 1 whether or not the
// write succeeded. A client without a stream writes nothing and keeps its count.
void AVI_RecordFrame(PAVISTREAM pStream, LONG* plFramesWritten, const void* pPicture, LONG lBytes,
                     BOOL bKeyFrame);
