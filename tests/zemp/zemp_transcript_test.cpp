// Whole-program sessions compared byte for byte with the golden transcripts in
// tests/zemp/transcripts/ (CR LF written out as \r\n).
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "zemp_rig.h"

namespace tarvion {
namespace {

using Answer = InMemorySocket::Answer;

// Connected at 1 ms; the first exchange (60 ms) has sent every radio; the
// transcript starts afterwards.
void connected_and_settled(ZempRig& rig, uint64_t until) {
  rig.socket.set_answer(Answer::accept);
  rig.start();
  rig.run_until(until);
  rig.transcript.clear();
}

struct Session {
  const char* name;  // the transcript file
  std::function<void(ZempRig&)> run;
};

const Session kSessions[] = {
    {"connect_registration",
     [](ZempRig& rig) {
       rig.start();  // the attempt is held until the exchange has taken the radios
       rig.run_until(100);
       rig.socket.peer_accept();
       rig.run_until(2500);  // the refresh at 2 s finds nothing changed
     }},
    {"connect_before_first_exchange",
     [](ZempRig& rig) {
       rig.socket.set_answer(Answer::accept);
       rig.start();
       rig.run_until(100);
     }},
    {"transfer_one_pair",
     [](ZempRig& rig) {
       connected_and_settled(rig, 1000);
       rig.set_radio(COM1, 118025);
       rig.run_until(1100);
       rig.set_radio(ADF1, 3795);
       rig.set_radio(ATC, 7700);
       rig.run_until(1200);
     }},
    {"keepalive_answered",
     [](ZempRig& rig) {
       connected_and_settled(rig, 500);
       rig.socket.peer_send("Arn.Vivo:\r\n");
       rig.run_until(600);
       rig.socket.peer_send("Arn.Vi");
       rig.run_until(700);
       rig.socket.peer_send("vo:\r\n");
       rig.run_until(800);
       rig.socket.peer_send("arn.vivo:\r\n");
       rig.run_until(900);
     }},
    {"server_value_overwritten",
     [](ZempRig& rig) {
       connected_and_settled(rig, 1000);
       rig.socket.peer_send("Arn.Resp:256=12000:\r\n");
       rig.run_until(4500);
     }},
    {"server_value_equal",
     [](ZempRig& rig) {
       connected_and_settled(rig, 1000);
       rig.socket.peer_send("Arn.Resp:256=11800:311=1200:\r\n");
       rig.run_until(4500);
     }},
    {"reconnect_while_refused",
     [](ZempRig& rig) {
       rig.socket.set_answer(Answer::refuse);
       rig.start();
       rig.run_until(12500);
     }},
    {"goodbye_at_shutdown",
     [](ZempRig& rig) {
       connected_and_settled(rig, 1000);
       rig.note("window closes");
       rig.program->FormClose();
     }},
    {"retry_after_time_out",
     [](ZempRig& rig) {
       rig.socket.set_answer(Answer::time_out);
       rig.start();
       rig.run_until(12500);
     }},
    {"reset_ends_the_connection",
     [](ZempRig& rig) {
       connected_and_settled(rig, 1000);
       rig.socket.peer_reset();
       rig.run_until(5500);
     }},
};

void PrintTo(const Session& session, std::ostream* os) {
  *os << session.name;
}

class Transcript : public ::testing::TestWithParam<Session> {};

TEST_P(Transcript, MatchesTheGoldenFile) {
  ZempRig rig;
  GetParam().run(rig);
  EXPECT_EQ(rig.transcript_text(), read_transcript(GetParam().name)) << "actual transcript:\n"
                                                                     << rig.transcript_text();
}

INSTANTIATE_TEST_SUITE_P(Sessions, Transcript, ::testing::ValuesIn(kSessions),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvion
