// The ERP edition's parameters dialog: the logic of TformParametrosBase on a
// smaller layout, without the reading folder and the success-message option,
// so its file holds four lines. Created at start-up; this edition never shows it.
#pragma once

#include "Parametroskrvw.h"

class TformParametrosKRVE : public TformParametrosBase {
    Q_OBJECT

public:
    explicit TformParametrosKRVE(QWidget* parent = nullptr);
};

// Created by main; null until then.
extern TformParametrosKRVE* formParametrosKRVE;
