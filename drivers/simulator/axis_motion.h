// Where a simulated axis stands at a given time: each move runs from rest to
// rest, at constant velocity or, with an acceleration, along a trapezoid.
#pragma once

#include <chrono>
#include <optional>

namespace simulator {

using Clock = std::chrono::steady_clock;

class AxisMotion {
public:
    AxisMotion(double position, double velocity, std::optional<double> acceleration) noexcept;

    // Starts from where the axis is at `now`, from rest: a move given during
    // another one replaces it without a jump in position.
    void MoveTo(double target, Clock::time_point now) noexcept;
    // Halts at once where the axis is, which becomes its target.
    void Stop(Clock::time_point now) noexcept;

    double Position(Clock::time_point now) const noexcept;
    bool Moving(Clock::time_point now) const noexcept;
    double Target() const noexcept { return target_; }

private:
    // The distance covered `seconds` after the move started.
    double Covered(double seconds) const noexcept;
    double Seconds(Clock::time_point now) const noexcept;
    bool Arrived(Clock::time_point now) const noexcept;

    double velocity_;
    // 0 for an axis that reaches its velocity at once.
    double acceleration_;
    double start_;
    double target_;
    Clock::time_point started_{};
    // Of the current move: its length, how long it lasts, how long each
    // ramp lasts and the velocity between them.
    double distance_ = 0;
    double duration_ = 0;
    // The same in the clock's own ticks, so that a move ends exactly at the
    // time its distance and velocity give, whatever the rounding of duration_.
    Clock::duration ticks_{0};
    double ramp_ = 0;
    double peak_ = 0;
};

} // namespace simulator
