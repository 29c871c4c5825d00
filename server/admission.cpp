// The listening process's choices under pressure: see admission.h.
#include "server/admission.h"

#include <algorithm>
#include <tuple>

namespace razivu::server::admission {
namespace {

constexpr int32_t pressure_divisor = 10;
constexpr int32_t pressure_floor_ms = 1000;

}  // namespace

bool pressure(std::size_t busy, std::size_t waiting, std::size_t workers) {
    return busy + waiting >= workers;
}

int32_t idle_limit(int32_t idle_ms, bool under_pressure) {
    return under_pressure ? std::min(idle_ms, std::max(idle_ms / pressure_divisor, pressure_floor_ms)) : idle_ms;
}

int32_t first_byte_limit(int32_t idle_ms, bool under_pressure) {
    return idle_limit(idle_ms, under_pressure);
}

int victim(std::span<const Worker> workers) {
    int chosen = -1;
    for (std::size_t i = 0; i < workers.size(); ++i) {
        const Worker &w = workers[i];
        const bool quiet = w.state == board::State::waiting || w.state == board::State::idle;
        const bool slow = w.state == board::State::in_call && w.age >= min_call_age;
        if (!w.asked && ((quiet && w.age >= min_idle_age) || slow) &&
            (chosen < 0 || w.age > workers[static_cast<std::size_t>(chosen)].age)) {
            chosen = static_cast<int>(i);
        }
    }
    return chosen;
}

int make_room_waiting(std::span<const Waiter> waiting, uint32_t newcomer_waiting) {
    int silent = -1;
    int crowded = -1;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        const Waiter &w = waiting[i];
        if (!w.call_begun && w.waited >= min_silent_wait &&
            (silent < 0 || w.waited > waiting[static_cast<std::size_t>(silent)].waited)) {
            silent = static_cast<int>(i);
        }
        const auto more = [&](const Waiter &o) {
            return std::make_pair(w.address_waiting, w.waited) > std::make_pair(o.address_waiting, o.waited);
        };
        if (w.address_waiting > newcomer_waiting + 1 &&
            (crowded < 0 || more(waiting[static_cast<std::size_t>(crowded)]))) {
            crowded = static_cast<int>(i);
        }
    }
    return silent >= 0 ? silent : crowded;
}

int next_to_serve(std::span<const Waiting> waiting, bool under_pressure) {
    // Smaller ranks first; ages are negated so that the longest comes first.
    const auto rank = [](const Waiting &w) {
        return std::make_tuple(w.held, w.served_before, -static_cast<int64_t>(w.since_served),
                               -static_cast<int64_t>(w.waited));
    };
    int chosen = -1;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        if ((waiting[i].call_begun || !under_pressure) &&
            (chosen < 0 || rank(waiting[i]) < rank(waiting[static_cast<std::size_t>(chosen)]))) {
            chosen = static_cast<int>(i);
        }
    }
    return chosen;
}

}  // namespace razivu::server::admission
