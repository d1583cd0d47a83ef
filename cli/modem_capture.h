// The `modem` command's captures: recording the uplink into a WAV file,
// playing one, decoding one with the receive side's demodulator, and
// drawing it (or the channel test's spectrum) with gnuplot.
#pragma once

#include <string>

namespace cli {

int modem_record(const std::string &path, int seconds);
int modem_play(const std::string &path);
int modem_decode(const std::string &path);
int modem_plot(const std::string &path, const std::string &png);
// Measures the uplink spectrum over every carrier (the channel test's
// measuring step, through the open link) and draws it with the pass band
// and the carrier chosen in it.
int modem_plot_spectrum(const std::string &png);

}  // namespace cli
