#pragma once

// Which failures of Qt's HTTP client mean "the network is not usable right now" rather
// than "this request is wrong": the transfers that wait and retry ask this.

#include <QNetworkReply>

namespace calmcove {

// Host not found, connection refused, remote host closed, timeout, temporary network
// failure and network session failure.
bool isConnectivityError(QNetworkReply::NetworkError code);

} // namespace calmcove
