// The networked tracers' byte stream. The input (after three bytes that set
// the piece size and how the connection behaves) arrives on one connection in
// pieces, through the server's read notification: appended to the slot's
// ring, cut into whole messages, answered, decoded into the frame record and
// saved. The same bytes also go straight to the header check, the message
// recognition, the message handler and the job decoding. The connection table
// and the protocol's shared state start afresh for every input.
#include "Conexoesrede.h"
#include "Irxserver.h"
#include "Jobrede.h"
#include "Readingfile.h"
#include "Servidorrede.h"
#include "Tracedata.h"
#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// A connection whose bytes come from the fuzzer, `piece` at a time. Replies
// are checked for their frame and dropped; after `sendsBeforeFailure` replies
// (when set) sending fails, as on a broken connection.
class FuzzConnection : public ConexaoCliente {
public:
    FuzzConnection(const uint8_t* data, size_t size, int piece)
        : m_data(data), m_size(size), m_piece(piece) {}

    bool conectada() const override { return m_open; }
    int receber(unsigned char* destino, int maximo) override {
        if (m_at >= m_size)
            return -1;
        size_t n = m_size - m_at;
        n = n < static_cast<size_t>(m_piece) ? n : static_cast<size_t>(m_piece);
        n = n < static_cast<size_t>(maximo) ? n : static_cast<size_t>(maximo);
        std::memcpy(destino, m_data + m_at, n);
        m_at += n;
        return static_cast<int>(n);
    }
    bool enviar(const unsigned char* bytes, int quantidade) override {
        check(quantidade >= kTamanhoMoldura && quantidade <= kTamanhoBufferMensagem);
        check(bytes[quantidade - 1] == kTerminador);
        if (failAfter >= 0 && sends >= failAfter)
            return false;
        ++sends;
        return true;
    }
    void fechar() override { m_open = false; }

    bool pending() const { return m_at < m_size; }
    int failAfter = -1;
    int sends = 0;

private:
    const uint8_t* m_data;
    size_t m_size;
    int m_piece;
    size_t m_at = 0;
    bool m_open = true;
};

struct State {
    struct_tracedata record;
    unsigned char reply[kTamanhoBufferMensagem];
};

// The server's way: connect, read notifications while bytes come and the
// connection stays open, disconnect.
void serve(const uint8_t* data, size_t size, int piece, int failAfter, ContextoRede& context) {
    FuzzConnection connection(data, size, piece);
    connection.failAfter = failAfter;
    ServerSocketZURServerClientConnect(connection);
    check(connection.slot == 0);
    while (connection.conectada() && connection.pending())
        ServerSocketZURServerClientRead(connection, context);
    ServerSocketZURServerClientDisconnect(connection);
    check(connection.slot == -1);
}

// The protocol's functions on the bytes as one message.
void direct(const uint8_t* data, size_t size, State& state) {
    const int n = size > static_cast<size_t>(kTamanhoBufferMensagem) ? kTamanhoBufferMensagem
                                                                     : static_cast<int>(size);
    if (n >= kTamanhoCabecalho) {
        int length = 0;
        if (VerificarCabecalho(data, length))
            check(length >= -32768 && length <= 32767);
    }
    const int type = ReconhecerMensagem(data, n);
    check(type >= 0 && type <= kJobIdentification);
    int replyLength = -1;
    const int outcome = TratarMensagem(data, n, state.reply, replyLength, state.record);
    check(replyLength >= 0 && replyLength <= kTamanhoBufferMensagem);
    check(type != 0 || outcome == kResultadoInvalido);
    const int decoded = DecodificarJob(data, n, state.record);
    check(decoded == kResultadoTracado || decoded == kResultadoInvalido);
    check(strnlen(state.record.extraLabels, kExtraLabelsSize) <
          static_cast<size_t>(kExtraLabelsSize));
    check(strnlen(state.record.job, sizeof state.record.job) <=
          static_cast<size_t>(kJobTextLength));
    const int job = MontarMensagemJob(state.reply, n >= kTamanhoMoldura ? data : nullptr);
    check(job == kMensagemJob || job == kTamanhoMoldura + 2);
    check(std::strlen(TextoIdentificacaoJob()) <= 16);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto state = std::make_unique<State>();
    static const ReadingContext reading{"NIDEK", "LT1000", true};
    static QuietUi ui;
    static ContextoRede context{&state->record, &reading, fuzzScratchDir(), &ui};

    InputReader in(data, size);
    // Pieces of 1 to 10,000 bytes, as the socket may deliver them.
    const int piece = 1 + in.word() % 10000;
    const uint8_t flags = in.byte();
    const int failAfter = (flags & 0x80) != 0 ? flags & 0x0F : -1;

    InicializarTabelaDeConexoes();
    ReiniciarProtocoloRede();
    clearTraceData(state->record);
    serve(in.rest(), in.left(), piece, failAfter, context);

    ReiniciarProtocoloRede();
    clearTraceData(state->record);
    direct(in.rest(), in.left(), *state);
    emptyFuzzScratchDir();
    return 0;
}
