#pragma once

#include <algorithm>

namespace trevane::sim {

// The play between a motor and its load: at each reversal the motor turns across the gap before
// it carries the load again. Power-on finds the motor pressing forward on the load.
class LostMotion {
  public:
    // Turns the motor by `step` in a gap `width` counts wide; past its sides the load goes along.
    void Move(double width, double step) { behind_ = std::clamp(behind_ - step, 0.0, width); }
    // Whether the motor, turning at `velocity`, bears on the load (at rest: on either side).
    bool Carries(double width, double velocity) const {
        const bool forward = behind_ <= 0;
        const bool backward = behind_ >= width;
        return velocity > 0 ? forward : (velocity < 0 ? backward : forward || backward);
    }

  private:
    double behind_ = 0;  // how far the motor sits behind the forward side of the gap
};

}  // namespace trevane::sim
