// The tracer models, by the number the configuration file stores
// (MODELOTRACER). Whatever depends on the model reads this table: the main
// window, the parameters dialog, the simulator and the tests. A new model is a
// row here plus its protocol.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>

// How a model's readings reach the program.
enum class TracerChannel {
    ReadOnClick,    // "Leitura" runs a whole reading and holds the window meanwhile
    TimerFromStart, // the timer looks at the port from the moment the model is applied
    TimerOnClick,   // the timer looks at the port between "Leitura" and "Parar"
    TcpServer,      // the tracer connects to the program's TCP server
};

// What a model's tracer speaks.
enum class TracerProtocol { Lt980, Network, Dcs, Takubomatic };

struct TracerModel {
    const char* tracerName;  // the tracer itself, as the simulator and the manual call it
    const char* dialogName;  // in the parameters dialog's list; null: each edition names it
    const char* windowLabel; // the main window's label (UTF-8)
    const char* vendor;      // VENDOR= of its readings
    const char* model;       // MODEL= of its readings, unless the tracer names itself
    TracerProtocol protocol;
    TracerChannel channel;
    bool calibrates;        // shows "Calibrar"
    const char* dcsRequest; // DCS: the tracing request its tracer makes (the program answers all)
};

// clang-format off
inline constexpr std::array<TracerModel, 7> kTracerModels = {{
    {"NIDEK LT980", "NIDEK LT980", "Tracer: NIDEK LT980 (serial)", "NIDEK", "LT980",
     TracerProtocol::Lt980, TracerChannel::ReadOnClick, true, nullptr},
    {"NIDEK LT1000/LT1200/ICE (network)", nullptr, "Dispositivos: NIDEK LT1000/LT1200/ICE (rede)",
     "NIDEK", "LT1000", TracerProtocol::Network, TracerChannel::TcpServer, false, nullptr},
    {"Huvitz", "Huvitz", "Tracer: Huvitz (serial)", "HUVITZ", "",
     TracerProtocol::Dcs, TracerChannel::TimerFromStart, false, "trc"},
    {"TopCom", "TopCom", "Tracer: TopCom (serial)", "TOPCOM", "",
     TracerProtocol::Dcs, TracerChannel::TimerFromStart, false, "1234"},
    {"Essilor", "Essilor", "Tracer: Essilor (serial)", "ESSILOR", "",
     TracerProtocol::Dcs, TracerChannel::TimerOnClick, false, "trc"},
    {"Takubomatic FD-80", "Takubomatic FD-80", "Tracer: Takubomatic", "TAKUBOMATIC", "",
     TracerProtocol::Takubomatic, TracerChannel::ReadOnClick, false, nullptr},
    {"NIDEK LT1000/LT1200 (serial)", "NIDEK LT1000/LT1200 Serial",
     "Tracer: Nidek LT1000/LT1200 (serial)", "NIDEK", "",
     TracerProtocol::Dcs, TracerChannel::TimerFromStart, false, "1"},
}};
// clang-format on

// The baud rates every serial model may use, in the parameters dialog's order.
inline constexpr std::array<const char*, 3> kTracerBaudRates = {"9600", "19200", "38400"};

// The row of model `number`; null when no model has that number.
constexpr const TracerModel* tracerModel(int number) {
    return number >= 0 && number < static_cast<int>(kTracerModels.size()) ? &kTracerModels[number]
                                                                          : nullptr;
}

constexpr bool usesSerialPort(const TracerModel& model) {
    return model.channel != TracerChannel::TcpServer;
}

// The place of `text` among the baud rates, exactly as listed; -1 when absent.
inline int tracerBaudRateIndex(const char* text) {
    for (std::size_t i = 0; i < kTracerBaudRates.size(); ++i)
        if (std::strcmp(kTracerBaudRates[i], text) == 0)
            return static_cast<int>(i);
    return -1;
}
