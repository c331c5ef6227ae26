// The ERP edition's about dialog; created at start-up, never shown in this edition.
#pragma once

#include "Sobrekrvw.h"

class TformSobreKRVE : public TformSobreBase {
    Q_OBJECT

public:
    explicit TformSobreKRVE(QWidget* parent = nullptr);
};

// Created by main; null until then.
extern TformSobreKRVE* formSobreKRVE;
