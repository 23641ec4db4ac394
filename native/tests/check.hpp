// A minimal check harness for the numeric core (no Python, no framework).
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bvc::test {

struct Case {
    const char* name;
    std::function<void()> body;
};

std::vector<Case>& registry();
extern int failures;

struct Register {
    Register(const char* name, std::function<void()> body) { registry().push_back({name, std::move(body)}); }
};

#define BVC_TEST(name)                                         \
    static void name();                                        \
    static ::bvc::test::Register register_##name(#name, name); \
    static void name()

#define BVC_CHECK(cond)                                                                   \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++::bvc::test::failures;                                                      \
        }                                                                                 \
    } while (0)

}  // namespace bvc::test
