#include "tools/aspn2-tool/NavCovariance.h"

#include <cmath>
#include <stdexcept>

namespace aspn2_tool {

namespace {

bool positiveFinite(std::array<double, 3> const& values) {
    for (double v : values) {
        if (!(std::isfinite(v) && v > 0.0)) return false;
    }
    return true;
}

}  // namespace

CovarianceModel::CovarianceModel(CovarianceSigmas const& sigmas, double growthMps)
    : m_sigmas(sigmas), m_growth(growthMps) {
    if (!positiveFinite(sigmas.positionM) || !positiveFinite(sigmas.velocityMps) ||
        !positiveFinite(sigmas.attitudeRad)) {
        throw std::invalid_argument("every sigma must be positive and finite");
    }
    if (!(std::isfinite(growthMps) && growthMps >= 0.0)) {
        throw std::invalid_argument("covariance growth must be a finite number >= 0");
    }
}

std::array<double, 9> CovarianceModel::sigmasAt(double t) const {
    double const grown = m_growth * (t > 0.0 ? t : 0.0);
    std::array<double, 9> s{};
    for (int i = 0; i < 3; ++i) {
        s[i] = m_sigmas.positionM[i] + grown;
        s[3 + i] = m_sigmas.velocityMps[i];
        s[6 + i] = m_sigmas.attitudeRad[i];
    }
    return s;
}

Matrix9 CovarianceModel::correlation() {
    Matrix9 r{};
    for (int i = 0; i < 9; ++i) r[i][i] = 1.0;
    auto set = [&r](int a, int b, double rho) {
        r[a][b] = rho;
        r[b][a] = rho;
    };
    for (int axis = 0; axis < 3; ++axis) set(axis, 3 + axis, kPositionVelocityCorrelation);
    set(0, 1, kNorthEastCorrelation);
    set(3, 4, kNorthEastCorrelation);
    set(6, 7, kRollPitchCorrelation);
    return r;
}

Matrix9 CovarianceModel::at(double t) const {
    std::array<double, 9> const s = sigmasAt(t);
    Matrix9 c = correlation();
    for (int i = 0; i < 9; ++i) {
        for (int j = 0; j < 9; ++j) c[i][j] *= s[i] * s[j];
    }
    return c;
}

double positionVarianceSum(Matrix9 const& covariance) { return covariance[0][0] + covariance[1][1] + covariance[2][2]; }

bool isUsableSolution(Matrix9 const& covariance) {
    double const sum = positionVarianceSum(covariance);
    return std::isfinite(sum) && sum < kUsablePositionVarianceLimit;
}

}  // namespace aspn2_tool
