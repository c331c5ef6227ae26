#include "Parametroskrve.h"

TformParametrosKRVE* formParametrosKRVE = nullptr;

namespace {

// clang-format off
const LayoutParametros kLayoutKRVE = {
    "formParametrosKRVE", 269, 188, 220, 115,
    178, 253, 173, 33, 243, 215,
    "NIDEK LT1000/LT1200/ICE", false, Edicao::Erp,
};
// clang-format on

} // namespace

TformParametrosKRVE::TformParametrosKRVE(QWidget* parent)
    : TformParametrosBase(kLayoutKRVE, parent) {}
