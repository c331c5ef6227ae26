// The receive ring of one connection slot against a model: a fuzzed sequence
// of appends, peeks, consumes and queries, with sizes from the input, each
// checked right away against a std::deque holding what the ring should hold
// (status codes and bytes). Another connection knocks on the slot now and
// then and must change nothing. Any difference stops the run.
#include "Conexaocliente.h"
#include "Conexoesrede.h"
#include "fuzzsupport.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

namespace {

// Operations per input: enough to go round the ring several times with the
// large sizes, few enough that an input of 100 KB stays quick.
constexpr int kMaxOperations = 100;

class Connection : public ConexaoCliente {
public:
    bool conectada() const override { return true; }
    int receber(unsigned char*, int) override { return -1; }
    bool enviar(const unsigned char*, int) override { return true; }
    void fechar() override {}
};

// Sizes around the interesting places: small ones, around the ring's capacity
// (one such append takes the indices anywhere in the ring), middling ones, and
// negative ones.
int sizeFrom(InputReader& in) {
    const uint8_t kind = in.byte();
    const uint16_t w = in.word();
    switch (kind % 4) {
    case 0:
        return w % 64;
    case 1:
        return kCapacidadeDoAnel - 32 + w % 64;
    case 2:
        return w % 8192;
    default:
        return static_cast<int>(static_cast<int16_t>(w)) % 200 - 100;
    }
}

struct Model {
    std::deque<unsigned char> bytes;
    int free() const { return kCapacidadeDoAnel - static_cast<int>(bytes.size()); }
};

void append(Model& model, Connection& owner, int slot, InputReader& in, std::vector<uint8_t>& buf) {
    const int n = sizeFrom(in);
    const uint8_t seed = in.byte();
    buf.resize(n > 0 ? static_cast<size_t>(n) : 1);
    for (size_t i = 0; i < buf.size(); ++i)
        buf[i] = static_cast<uint8_t>(seed + i * 7);
    const int expected = n < 0 || n > model.free() ? 3 : 0;
    check(AnexarAoAnel(&owner, slot, buf.data(), n) == expected);
    if (expected == 0)
        model.bytes.insert(model.bytes.end(), buf.begin(), buf.begin() + n);
}

void peek(Model& model, Connection& owner, int slot, InputReader& in, std::vector<uint8_t>& buf) {
    const int n = sizeFrom(in);
    buf.assign(n > 0 ? static_cast<size_t>(n) + 1 : 1, 0xA5);
    const int expected = n < 0 || n > static_cast<int>(model.bytes.size()) ? 3 : 0;
    check(EspiarAnel(&owner, slot, buf.data(), n) == expected);
    if (expected == 0) {
        check(std::equal(buf.begin(), buf.begin() + n, model.bytes.begin()));
        check(buf[static_cast<size_t>(n)] == 0xA5); // nothing written past n
    } else {
        check(buf[0] == 0xA5);
    }
}

void consume(Model& model, Connection& owner, int slot, InputReader& in) {
    const int n = sizeFrom(in);
    const int expected = n < 0 || n > static_cast<int>(model.bytes.size()) ? 3 : 0;
    check(ConsumirDoAnel(&owner, slot, n) == expected);
    if (expected == 0)
        model.bytes.erase(model.bytes.begin(), model.bytes.begin() + n);
}

// A connection that does not own the slot: refused, nothing changed.
void intrude(Connection& other, int slot) {
    unsigned char byte = 0;
    int count = -7;
    check(AnexarAoAnel(&other, slot, &byte, 1) == 1);
    check(EspiarAnel(&other, slot, &byte, 0) == 1);
    check(ConsumirDoAnel(&other, slot, 0) == 1);
    check(BytesNoAnel(&other, slot, count) == 1 && count == -7);
    check(EspacoLivre(&other, slot, count) == 1 && count == -7);
    check(LiberarSlot(&other, slot) == 1);
}

void checkCounts(const Model& model, Connection& owner, int slot) {
    int held = -1;
    int free = -1;
    check(BytesNoAnel(&owner, slot, held) == 0 && held == static_cast<int>(model.bytes.size()));
    check(EspacoLivre(&owner, slot, free) == 0 && free == model.free());
    const SlotDeConexao& s = SlotParaTeste(slot);
    check(s.escrita >= 0 && s.escrita < kTamanhoDoAnel);
    check(s.leitura >= 0 && s.leitura < kTamanhoDoAnel);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Connection owner;
    static Connection other;
    static std::vector<uint8_t> buf;
    InicializarTabelaDeConexoes();
    InputReader in(data, size);
    // The slot: the first free one, or a later one when earlier ones are taken.
    Connection fillers[kSlotsDeConexao];
    const int before = in.byte() % kSlotsDeConexao;
    int slot = -1;
    for (int i = 0; i < before; ++i)
        check(AlocarSlot(&fillers[i], slot) == 0 && slot == i);
    check(AlocarSlot(&owner, slot) == 0 && slot == before);

    Model model;
    for (int op = 0; op < kMaxOperations && in.left() > 0; ++op) {
        switch (in.byte() % 5) {
        case 0:
        case 1:
            append(model, owner, slot, in, buf);
            break;
        case 2:
            peek(model, owner, slot, in, buf);
            break;
        case 3:
            consume(model, owner, slot, in);
            break;
        default:
            intrude(other, slot);
            break;
        }
        checkCounts(model, owner, slot);
    }
    check(LiberarSlot(&owner, slot) == 0);
    int held = -1;
    check(BytesNoAnel(&owner, slot, held) == 1 && held == -1);
    return 0;
}
