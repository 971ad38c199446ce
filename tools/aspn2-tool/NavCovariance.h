#ifndef TOOLS_ASPN2_TOOL_NAVCOVARIANCE_H
#define TOOLS_ASPN2_TOOL_NAVCOVARIANCE_H

// The simulated navigator's error covariance: 9 by 9, rows and columns in
// the order north, east, down position (m); north, east, down velocity
// (m/s); roll, pitch, yaw (rad). It is built as D * R * D from one-sigma
// values D and a fixed correlation matrix R (position and velocity of the
// same axis correlated, a little coupling between north and east and
// between roll and pitch), so it is symmetric and positive definite for
// every positive set of sigmas.

#include <array>

namespace aspn2_tool {

using Matrix9 = std::array<std::array<double, 9>, 9>;

/// One-sigma values of a well-converged solution.
struct CovarianceSigmas {
    std::array<double, 3> positionM{2.0, 2.0, 3.0};          ///< north, east, down
    std::array<double, 3> velocityMps{0.1, 0.1, 0.15};       ///< north, east, down
    std::array<double, 3> attitudeRad{0.003, 0.003, 0.008};  ///< roll, pitch, yaw
};

class CovarianceModel {
public:
    /// Correlation of position and velocity errors of the same axis.
    static constexpr double kPositionVelocityCorrelation = 0.3;
    /// Correlation of the north and east position (and velocity) errors.
    static constexpr double kNorthEastCorrelation = 0.1;
    /// Correlation of the roll and pitch errors.
    static constexpr double kRollPitchCorrelation = 0.1;

    /// `growthMps`: the position sigmas grow by this many metres per second
    /// of run time (>= 0), so the solution eventually turns unusable.
    /// Throws std::invalid_argument when a sigma is not positive and finite
    /// or the growth is negative or not finite.
    explicit CovarianceModel(CovarianceSigmas const& sigmas = CovarianceSigmas(), double growthMps = 0.0);

    /// The nine one-sigma values at `t` seconds after the start (t < 0
    /// counts as 0).
    std::array<double, 9> sigmasAt(double t) const;

    /// The covariance at `t` seconds after the start.
    Matrix9 at(double t) const;

    /// The fixed correlation matrix R.
    static Matrix9 correlation();

private:
    CovarianceSigmas m_sigmas;
    double m_growth;
};

/// [0][0] + [1][1] + [2][2]: the summed position variance, m^2.
double positionVarianceSum(Matrix9 const& covariance);

/// Summed position variance below which a solution is usable, m^2.
constexpr double kUsablePositionVarianceLimit = 25000000.0;

/// Whether the summed position variance is finite and below the limit.
bool isUsableSolution(Matrix9 const& covariance);

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_NAVCOVARIANCE_H
