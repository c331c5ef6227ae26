#include "Serial.h"

#include "Clock.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr uint32_t kQueueSize = 8192;      // bytes, each direction
constexpr uint32_t kReadTotalMs = 5000;    // a read returns after 5 s in all
constexpr uint32_t kWriteMsPerByte = 1000; // a write of n bytes may take n s
constexpr uint32_t kPollMs = 50;           // ReceiveBlock looks at the queue this often...
constexpr uint32_t kReceiveLimitMs = 6000; // ...for at most this long: 120 looks
constexpr uint16_t kXonLim = 2048;         // kept in the record, no terminal counterpart
constexpr uint16_t kXoffLim = 512;
constexpr unsigned char kNoSpecialChar = 0xFF;

int64_t configureLine(CommPort& port, int baudRate) {
    port.dcb.BaudRate = static_cast<uint32_t>(baudRate);
    port.dcb.ByteSize = 8;
    port.dcb.Parity = kNoParity;
    port.dcb.StopBits = kOneStopBit;
    port.dcb.XonLim = kXonLim;
    port.dcb.XoffLim = kXoffLim;
    port.dcb.ErrorChar = kNoSpecialChar;
    port.dcb.EofChar = kNoSpecialChar;
    port.dcb.EvtChar = kNoSpecialChar;
    return port.SetState() != 0 ? 50 : 0;
}

} // namespace

const char* const kLinkOpenFailed = "Erro na inicialização da conexão com o Tracer.";
const char* const kLinkCloseFailed = "Erro no encerramento da conexão com o Tracer.";
const char* const kLinkReceiveFailed = "Erro no recebimento de dados da leitura.";

int64_t OpenLink(CommPort& port, const char* device, int baudRate, int* openError) {
    const int opened = port.Open(device);
    if (openError != nullptr)
        *openError = opened > 0 ? opened : 0;
    if (opened != 0)
        return 10;
    if (port.GetProperties() != 0)
        return 20;
    if (port.GetModemStatus() != 0)
        return 30;
    if (port.GetState() != 0)
        return 40;
    if (configureLine(port, baudRate) != 0)
        return 50;
    port.timeouts = CommTimeouts{0, 0, kReadTotalMs, kWriteMsPerByte, 0};
    if (port.SetTimeouts() != 0)
        return 80;
    // The event mask and the queue sizes change nothing on a terminal; the
    // calls stay for their step numbers (they fail only on a closed port).
    if (port.SetMask(0) != 0)
        return 90;
    if (port.Setup(kQueueSize, kQueueSize) != 0)
        return 100;
    if (port.Purge(kPurgeAll) != 0)
        return 110;
    if (port.Escape(SETDTR) != 0 || port.Escape(SETRTS) != 0)
        return 70;
    return 0;
}

int64_t CloseLink(CommPort& port) {
    // Whatever the flushes give, the device is closed.
    static_cast<void>(port.Purge(kPurgeRxAbort | kPurgeRxClear));
    static_cast<void>(port.Purge(kPurgeTxAbort | kPurgeTxClear));
    return port.Close() != 0 ? 1 : 0;
}

int64_t SendBlock(CommPort& port, const unsigned char* bytes, int count) {
    const uint32_t size = count > 0 ? static_cast<uint32_t>(count) : 0;
    uint32_t done = 0;
    if (port.Write(bytes, size, done) != 0)
        return 10;
    return done < size ? 20 : 0;
}

int64_t SendAndConfirm(CommPort& port, const unsigned char* bytes, int count) {
    const int64_t sent = SendBlock(port, bytes, count);
    if (sent != 0)
        return sent;
    unsigned char answer = 0;
    int got = 0;
    const int64_t received = ReceiveBlock(port, 1, &answer, got);
    if (received != 0)
        return NestedError(received, 30);
    if (answer == kAck)
        return 0;
    return answer == kNak ? 40 : 50;
}

int64_t ReceiveBlock(CommPort& port, int wanted, unsigned char* destination, int& got) {
    got = 0;
    const uint32_t size = wanted > 0 ? static_cast<uint32_t>(wanted) : 0;
    uint32_t errors = 0;
    uint32_t waited = 0;
    for (;;) {
        activeClock().sleep(kPollMs);
        if (port.ClearError(errors) != 0)
            return 10;
        if (port.status.cbInQue >= size)
            break;
        waited += kPollMs;
        if (waited >= kReceiveLimitMs)
            break;
    }
    const uint32_t take = port.status.cbInQue < size ? port.status.cbInQue : size;
    uint32_t done = 0;
    const int readResult = port.Read(destination, take, done);
    got = static_cast<int>(done);
    if (readResult != 0)
        return 20;
    if (done < take)
        return 30;
    return take < size ? 40 : 0;
}

int64_t Enquire(CommPort& port) {
    const int64_t confirmed = SendAndConfirm(port, &kEnq, 1);
    if (confirmed != 0)
        return NestedError(confirmed, 10);
    return port.Purge(kPurgeAll) != 0 ? 20 : 0;
}

std::string OpenFailureCause(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "sem permissão: o usuário precisa pertencer ao grupo dialout (depois de "
               "incluído, saia da sessão e entre de novo)";
    case EWOULDBLOCK:
    case EBUSY:
        return "em uso por outro programa ou pela sessão de outro usuário";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "não está presente (o adaptador foi desconectado?)";
    default: {
        // The system's own words, the same in every locale.
        const char* text = strerrordesc_np(error);
        return text != nullptr ? text : "erro " + std::to_string(error);
    }
    }
}

int64_t OpenLinkForReading(CommPort& port, const char* device, int baudRate, std::string& detail,
                           int* openError) {
    int error = 0;
    const int64_t opened = OpenLink(port, device, baudRate, &error);
    if (openError != nullptr)
        *openError = error;
    if (opened == 0)
        return 0;
    if (opened > 10) // past the open itself the device is held; the open's failure is told
        static_cast<void>(CloseLink(port));
    detail = kLinkOpenFailed;
    if (error != 0)
        detail += std::string(" Porta ") + device + ": " + OpenFailureCause(error) + ".";
    return NestedError(opened, 10);
}

int64_t CloseLinkAfterReading(CommPort& port, int64_t failure, std::string& detail) {
    if (CloseLink(port) == 0)
        return 0;
    detail = kLinkCloseFailed;
    return failure;
}

int64_t StartTimedReading(CommPort& port, const char* device, int baudRate, std::string& detail,
                          int* openError) {
    return OpenLinkForReading(port, device, baudRate, detail, openError);
}

int64_t StopTimedReading(CommPort& port, std::string& detail) {
    return CloseLinkAfterReading(port, 1070, detail);
}
