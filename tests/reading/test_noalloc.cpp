// The label tables split text without allocating: every byte they use is part
// of the object. Counted by replacing the global allocation functions.
#include "Funcoesgerais.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>

namespace {
long g_allocations = 0;
}

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(LabelTables, LoadFindSplitAndItemDoNotAllocate) {
    auto lines = std::make_unique<LineField>();
    auto csv = std::make_unique<CSVreader>();
    std::string text = "ANS=TRC\r\nJOB=\"00815\"\r\nTRCFMT=1;1000;E;R;F\r\n";
    for (int i = 0; i < 100; ++i)
        text += "R=2512;2513;2513;2514;2515;2516;2517;2518;2519;2520\r\n";
    int found[8];

    const long before = g_allocations;
    lines->load(text.data(), static_cast<int>(text.size()));
    const int job = lines->find("JOB");
    const int headers = lines->findAll("TRCFMT", found, 8);
    const int split = csv->split(lines->value(found[0]));
    const char* eye = csv->item(3);
    const long after = g_allocations;

    EXPECT_EQ(after - before, 0);
    EXPECT_EQ(lines->count(), 103);
    EXPECT_EQ(job, 1);
    EXPECT_EQ(headers, 1);
    EXPECT_EQ(split, 1);
    EXPECT_STREQ(eye, "R");
}

} // namespace
