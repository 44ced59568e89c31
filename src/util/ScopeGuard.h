#pragma once
// Runs a clean-up step once: explicitly with run(), or on the way out of the scope
// (also when something throws).
#include <functional>
#include <utility>

class ScopeGuard {
public:
    explicit ScopeGuard(std::function<void()> f) : m_f(std::move(f)) {}
    ~ScopeGuard() { run(); }
    void run()
    {
        if (m_f) {
            auto f = std::move(m_f);
            m_f = nullptr;
            f();
        }
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

private:
    std::function<void()> m_f;
};
