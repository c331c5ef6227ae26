// The frame picture the window showed for the tracing of a capture
// (docs/captures.md): the tracer's side of the conversation played to the
// program's own protocol of the capture's model, and the picture drawn by the
// save flow's own steps when that protocol hands over a tracing.
#pragma once

#include "Tracedata.h"

#include <string>
#include <vector>

// The BMP bytes of the last picture the window would have shown after the
// capture: serial captures are played on a pseudo-terminal to the model's
// protocol (the LT980 and Takubomatic readings, or the DCS timer's polls),
// every byte the program sends checked against the capture; the device's
// messages of a TCP capture go, one whole message at a time, to the network
// message handler. False with the reason when the capture cannot be read,
// the program's conversation differs from it, or it holds no tracing the
// program would have saved.
bool captureFramePicture(const std::string& path, std::vector<unsigned char>& bmp,
                         std::string& reason);

// The picture of a frame record as the save flow draws it: computeGeometry,
// then renderFrameImage. False when it could not be made (no memory).
bool framePicture(struct_tracedata& record, std::vector<unsigned char>& bmp);
