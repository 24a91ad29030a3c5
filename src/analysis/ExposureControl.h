#pragma once
// The automatic exposure without a window: how bright a frame's planet (or, without a disc,
// the frame) is, and the loop that steps exposure and gain until that level is at a target,
// then holds it. The caller feeds it only frames exposed with the setting it last made.
#include <cstdint>
#include <opencv2/core.hpp>

// The level of the brightest 0.5 % of the planet's disc in `samples` (1 channel, 8 or 16
// bits, `bitsPerSample` significant; `mosaic` for a colour mosaic), in percent of full scale;
// of the brightest 0.5 % of the whole frame where no disc is found.
double brightLevelPercent(const cv::Mat& samples, int bitsPerSample, bool mosaic);

struct ExposureSetting {
    int64_t exposureUs = 100'000;
    int32_t gain = 0;  // 0..100
    bool operator==(const ExposureSetting&) const = default;
};

struct ExposureLimits {
    int64_t shortestUs = 100;
    int64_t longestUs = 100'000;
    int32_t highestGain = 100;
    // Brighter: gain up before the exposure (short exposures freeze the seeing); darker:
    // the exposure down before the gain. Otherwise the other way round.
    bool gainFirst = false;
};

class ExposureControl {
  public:
    enum class Step {
        Settled,  // the level is within the band around the target: nothing changes
        Held,     // settled, and what the level does now is no reason to move yet
        Limited,  // off the target, but the limits leave nothing to change
        Changed,  // a new setting is to be made
    };
    struct Decision {
        Step step = Step::Held;
        ExposureSetting setting;
    };

    // The level to reach in percent of full scale, and how near (a share of it, 3 %).
    void setTarget(double percent) { target_ = percent; }
    double target() const { return target_; }
    void setLimits(const ExposureLimits& limits) { limits_ = limits; }
    const ExposureLimits& limits() const { return limits_; }
    // Forgets that it had settled (a new start, new limits or target).
    void reset();

    // One measured level of a frame exposed with `current`: what to do. Once settled it holds
    // until the level stays more than kLeaveShare off the target for kLeaveFrames frames in
    // a row, so that seeing and noise never set it swinging.
    Decision step(double levelPercent, const ExposureSetting& current);
    bool settled() const { return settled_; }

    // The gain's steps as the loop takes them: each one multiplies the signal by
    // 10^(1 / kGainStepsPerDecade).
    static constexpr double kGainStepsPerDecade = 50;
    static constexpr double kSettleShare = 0.03;
    static constexpr double kLeaveShare = 0.10;
    static constexpr int kLeaveFrames = 3;

  private:
    double target_ = 75;
    ExposureLimits limits_;
    bool settled_ = false;
    int outside_ = 0;
};
