#pragma once
// seccomp: which system calls a process may make, some only with the
// arguments it uses. A filter binds the calling thread and its later
// threads, or with `tsync` every thread of the process; filters stack, and
// the strictest answer wins.

#include <seccomp.h>

#include <cstdint>

// AddressSanitizer reserves terabytes of address space, and its leak checker
// stops the world at exit with a tracing process of its own.
#if defined(__SANITIZE_ADDRESS__)
#define SONORA_SANITIZZATO 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SONORA_SANITIZZATO 1
#endif
#endif
#ifndef SONORA_SANITIZZATO
#define SONORA_SANITIZZATO 0
#endif

namespace sonora::confinamento {

inline constexpr bool kSanitizzato = SONORA_SANITIZZATO;

class Filtro {
public:
    // `predefinita`: what every call no rule names gets (SCMP_ACT_*).
    explicit Filtro(std::uint32_t predefinita);
    ~Filtro();
    Filtro(const Filtro&) = delete;
    Filtro& operator=(const Filtro&) = delete;

    // Allowed, when every condition holds (none: always). A call named
    // more than once is allowed when any of its rules holds.
    template <typename... Condizioni>
    void permetti(const char* chiamata, Condizioni... condizioni)
    {
        const scmp_arg_cmp argomenti[] = {condizioni..., {}};
        regola(SCMP_ACT_ALLOW, chiamata, sizeof...(condizioni), argomenti);
    }
    // Refused with errno `numero`, when every condition holds.
    template <typename... Condizioni>
    void nega(int numero, const char* chiamata, Condizioni... condizioni)
    {
        const scmp_arg_cmp argomenti[] = {condizioni..., {}};
        regola(SCMP_ACT_ERRNO(unsigned(numero)), chiamata, sizeof...(condizioni), argomenti);
    }

    // Loads it; 0, or the errno of the first thing that failed.
    int carica(bool tsync);

private:
    void regola(std::uint32_t azione, const char* chiamata, unsigned quante, const scmp_arg_cmp* condizioni);

    const std::uint32_t predefinita_;
    scmp_filter_ctx ctx_;
    int errore_ = 0;
};

} // namespace sonora::confinamento

namespace sonora::confinamento {

// What any threaded process of ours does to itself alone: memory, threads,
// time, signals to itself, polling and reading and writing what it holds,
// fstat of a descriptor. Calls that could reach another process or widen a
// right are allowed only with the arguments that keep them to itself.
void permettiComuni(Filtro& f);

} // namespace sonora::confinamento
