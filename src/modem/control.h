// The modem's control codes: what the host may read and change of the
// modem's settings through the card framework's control dispatch.
#pragma once

namespace vr::modem {

// Code 23, by sub-code: 0 the channel test, 1 and 2 set the uplink
// algorithm and the debug level to value (returning it), 3 and 4 read them,
// 5 the uplink short width, 6 the magnitude of the slicer level, 7 the link
// cipher's self-test (0), 8 sets the port's reply time-out (0), 9 reads
// it; any other sub-code 0. The result before clamping.
int control_settings(int sub_code, int value);

// Code 48: words[0] the uplink algorithm, words[1] the uplink carrier
// frequency; 0, or -24 for a missing buffer.
int control_uplink_info(int *words);

}  // namespace vr::modem
