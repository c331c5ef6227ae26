// Where the controls of the windows stand, in pixels of their parent: the
// layout krvw-grab checks and the dialog tests compare with, stated once.
#pragma once

struct Placement {
    const char* name;
    int x, y, width, height; // width/height -1: not fixed by the layout
};

// clang-format off
inline constexpr Placement kLayoutPrincipal[] = {
    {"ImageFrame", 10, 56, 512, 256},   {"btnLeituraSerial", 452, 21, 75, 25},
    {"btnCalibrar", 293, 21, 75, 25},   {"Bevel1", 6, 52, 521, 264},
    {"lblImagemDoAro", 10, 37, -1, -1}, {"lblRotuloPorta", 448, 4, -1, -1},
    {"lblPorta", 490, 4, -1, -1},       {"Bevel2", -3, -11, 535, 13},
    {"lblTracer", 8, 4, -1, -1},        {"btnParar", 372, 21, 75, 25},
    {"lblSituacao", 110, 37, 178, -1},
};
inline constexpr Placement kLayoutParametrosKRVW[] = {
    {"lblTracer", 8, 43, -1, -1},      {"cbTracer", 83, 39, 174, 21},
    {"btnConfirmar", 238, 4, 23, 22},  {"btnCancelar", 210, 4, 23, 22},
    {"GroupBox1", 8, 72, 249, 109},    {"editPortaTCP", 72, 25, 169, 21},
    {"lblPorta", 34, 56, -1, -1},      {"cbPortaSerial", 72, 52, 169, 21},
    {"lblBaudRate", 6, 82, -1, -1},    {"cbBaudRate", 72, 78, 169, 21},
    {"editCaminho", 63, 191, 194, 21}, {"checkMsgSucesso", 25, 222, -1, 16},
};
inline constexpr Placement kLayoutParametrosKRVE[] = {
    {"lblTracer", 8, 43, -1, -1},     {"cbTracer", 83, 39, 178, 21},
    {"btnConfirmar", 243, 4, 23, 22}, {"btnCancelar", 215, 4, 23, 22},
    {"GroupBox1", 8, 72, 253, 109},   {"editPortaTCP", 72, 25, 173, 21},
    {"lblPorta", 33, 56, -1, -1},     {"cbPortaSerial", 72, 52, 173, 21},
    {"lblBaudRate", 6, 82, -1, -1},   {"cbBaudRate", 72, 78, 173, 21},
};
inline constexpr Placement kLayoutSobreKRVW[] = {
    {"Bevel1", 4, 4, 108, 66}, {"Image1", 8, 8, 100, 58}, {"Label1", 119, 11, -1, -1},
    {"Label3", 176, 28, -1, -1}, {"Label2", 155, 50, -1, -1},
};
// clang-format on
