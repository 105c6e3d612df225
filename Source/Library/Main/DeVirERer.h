// MP3 decoded through a DirectShow graph: the converter's last resort. The
// whole stream is read into memory, served by our memory reader as an
// MPEG-1 audio stream, decoded by whatever the platform's graph puts in,
// caught as PCM by the sample grabber and kept as converter kind 3.
#ifndef DEVIRERER_H
#define DEVIRERER_H

#include "VeVirudConvert.h"
#include "ZoRevOStrmBaseFilterGrabber.h"

// 0, or -1 with a log line and nothing left allocated.
int DecodeMp3WithMediaGraph(SoundConversion* conversion);

// The grabber callback collecting PCM into the converter's memory block
// (user data = the converter); always 0.
HRESULT Mp3GrabberCallback(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, int typeChanged,
                           DWORD userData);

// The first pin of the given direction with a reference, or null.
IPin* FindFilterPin(IBaseFilter* filter, PIN_DIRECTION direction);

// Tests only: called, when set, with each graph once it is rendered and its
// renderer swapped, before the grabber's connection is read.
extern void (*Mp3GraphRenderedHook)(IGraphBuilder* graph, IBaseFilter* grabber);
// Tests only: called, when set, with each graph right after rendering,
// before the renderer is swapped.
extern void (*Mp3GraphBeforeSwapHook)(IGraphBuilder* graph, IBaseFilter* grabber);

// The longest the decode waits without new PCM before it gives up (ms).
enum { MP3_GRAPH_STALL_LIMIT_MS = 10000 };

#endif  // DEVIRERER_H
