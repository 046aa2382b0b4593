// The motion profile of a simulated axis.
#include "axis_motion.h"

#include <cmath>

namespace simulator {

AxisMotion::AxisMotion(double position, double velocity, std::optional<double> acceleration) noexcept
    : velocity_(velocity), acceleration_(acceleration.value_or(0.0)), start_(position), target_(position)
{
}

void AxisMotion::MoveTo(double target, Clock::time_point now) noexcept
{
    start_ = Position(now);
    target_ = target;
    started_ = now;
    distance_ = std::fabs(target_ - start_);
    peak_ = velocity_;
    ramp_ = acceleration_ > 0 ? velocity_ / acceleration_ : 0.0;
    // Too short to reach full velocity: a triangle, half speeding up, half slowing down.
    if (acceleration_ > 0 && acceleration_ * ramp_ * ramp_ > distance_) {
        ramp_ = std::sqrt(distance_ / acceleration_);
        peak_ = acceleration_ * ramp_;
    }
    const double rampDistance = 0.5 * acceleration_ * ramp_ * ramp_;
    duration_ = distance_ > 0 ? 2 * ramp_ + (distance_ - 2 * rampDistance) / peak_ : 0.0;
    // Longer than thirty years is for ever, and no longer overflows the ticks.
    constexpr double kLongestMove = 1e9;
    ticks_ = duration_ < kLongestMove ? std::chrono::round<Clock::duration>(std::chrono::duration<double>(duration_))
                                      : Clock::duration::max();
}

void AxisMotion::Stop(Clock::time_point now) noexcept
{
    const double here = Position(now);
    start_ = target_ = here;
    distance_ = duration_ = 0;
    ticks_ = Clock::duration::zero();
}

double AxisMotion::Position(Clock::time_point now) const noexcept
{
    if (Arrived(now))
        return target_;
    return start_ + (target_ >= start_ ? 1 : -1) * Covered(Seconds(now));
}

bool AxisMotion::Moving(Clock::time_point now) const noexcept
{
    return !Arrived(now);
}

double AxisMotion::Covered(double seconds) const noexcept
{
    if (seconds <= 0)
        return 0;
    if (seconds < ramp_)
        return 0.5 * acceleration_ * seconds * seconds;
    const double braking = duration_ - ramp_;
    if (seconds <= braking)
        return 0.5 * acceleration_ * ramp_ * ramp_ + peak_ * (seconds - ramp_);
    const double left = duration_ - seconds;
    return distance_ - 0.5 * acceleration_ * left * left;
}

bool AxisMotion::Arrived(Clock::time_point now) const noexcept
{
    return now - started_ >= ticks_;
}

double AxisMotion::Seconds(Clock::time_point now) const noexcept
{
    return std::chrono::duration<double>(now - started_).count();
}

} // namespace simulator
