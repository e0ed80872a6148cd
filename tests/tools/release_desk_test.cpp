// The release store's model: who gets which release as the vendor rolls out, pins, rolls
// back and prunes, and the records it keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "publish/clients_file.h"
#include "publish/store_state.h"

namespace {

using namespace kalo::publish;

std::vector<Client> ManyClients(std::size_t stable, std::size_t beta) {
  std::vector<Client> clients;
  for (std::size_t at = 0; at < stable + beta; ++at) {
    clients.push_back({"cliente " + std::to_string(at), at < stable ? "stable" : "beta"});
  }
  return clients;
}

StoreState WithReleases(std::initializer_list<const char*> ids) {
  StoreState state;
  for (const char* id : ids) {
    state.releases.push_back({id, 1'800'000'000});
  }
  return state;
}

std::set<std::string> On(const Assignment& assignment, const std::string& release) {
  std::set<std::string> clients;
  for (const auto& [client, on] : assignment.clients) {
    if (on == release) {
      clients.insert(client);
    }
  }
  return clients;
}

TEST(ReleaseDesk, ARolloutTakesTheFirstClientsByAHashThatNeverChanges) {
  const auto clients = ManyClients(1000, 200);
  StoreState state = WithReleases({"r1", "r2"});
  ASSERT_EQ(Rollout(state, clients, {"r1", "stable", std::nullopt, {}}), "");
  ASSERT_EQ(Rollout(state, clients, {"r1", "beta", std::nullopt, {}}), "");
  const auto order = RolloutOrder(clients, "stable");
  ASSERT_EQ(order.size(), 1000u);
  // The order depends on the names alone, not on the file's order.
  auto reversed = clients;
  std::ranges::reverse(reversed);
  EXPECT_EQ(RolloutOrder(reversed, "stable"), order);

  std::set<std::string> previous;
  for (const int percent : {10, 25, 100, 25, 1, 0}) {
    SCOPED_TRACE(percent);
    ASSERT_EQ(Rollout(state, clients, {"r2", "stable", percent, {}}), "");
    const Assignment assignment = Assign(state, clients);
    const auto on_new = On(assignment, "r2");
    const std::size_t expected = (1000 * static_cast<std::size_t>(percent) + 99) / 100;
    EXPECT_EQ(on_new, std::set<std::string>(order.begin(),
                                            order.begin() + static_cast<std::ptrdiff_t>(expected)));
    EXPECT_EQ(On(assignment, "r1").size(), 1200 - expected);  // beta stays on r1
    EXPECT_EQ(assignment.general, percent == 100 ? "r2" : "r1");
    previous = on_new;
  }
  // Named clients get it whatever the percent; one of another channel is refused.
  EXPECT_EQ(Rollout(state, clients, {"r2", "stable", std::nullopt, {"cliente 7"}}), "");
  EXPECT_EQ(Assign(state, clients).clients.at("cliente 7"), "r2");
  EXPECT_NE(Rollout(state, clients, {"r2", "stable", std::nullopt, {"cliente 1100"}}), "");
  EXPECT_EQ(ShareOf(5, 1), 1u);
}

TEST(ReleaseDesk, ChannelsPinsAndRollbacksEachTakeTheirClients) {
  const auto clients = ManyClients(10, 10);
  StoreState state = WithReleases({"r1", "r2", "r3"});
  struct Step {
    const char* what;
    std::function<std::string(StoreState&)> apply;
    bool refused;
    const char* stable_client;  // what cliente 0 (stable) gets
    const char* beta_client;    // what cliente 15 (beta) gets
  };
  const auto rollout = [&](const char* release, const char* channel, std::optional<int> percent) {
    return [=, &clients](StoreState& s) {
      return Rollout(s, clients, {release, channel, percent, {}});
    };
  };
  const std::vector<Step> steps{
      {"stable starts with a share", rollout("r1", "stable", 50), true, nullptr, nullptr},
      {"stable gets r1", rollout("r1", "stable", std::nullopt), false, "r1", "r1"},
      {"beta gets r2 for all", rollout("r2", "beta", 100), false, "r1", "r2"},
      {"stable starts r2 at 0%", rollout("r2", "stable", 0), false, "r1", "r2"},
      {"no third release while r2 is partial", rollout("r3", "stable", 100), true, "r1", "r2"},
      {"an unknown release", rollout("r9", "beta", 100), true, "r1", "r2"},
      {"cliente 15 pinned to r1",
       [&](StoreState& s) { return Pin(s, clients, "cliente 15", "r1"); }, false, "r1", "r1"},
      {"an unlisted client cannot be pinned",
       [&](StoreState& s) { return Pin(s, clients, "ninguém", "r1"); }, true, "r1", "r1"},
      {"beta takes r3, the pin holds", rollout("r3", "beta", 100), false, "r1", "r1"},
      {"unpinned, it follows beta", [](StoreState& s) { return Unpin(s, "cliente 15"); }, false,
       "r1", "r3"},
      {"beta rolled back to r2", [](StoreState& s) { return Rollback(s, "beta"); }, false, "r1",
       "r2"},
      {"beta rolled back again follows stable", [](StoreState& s) { return Rollback(s, "beta"); },
       false, "r1", "r1"},
      {"stable's r2 taken back", [](StoreState& s) { return Rollback(s, "stable"); }, false, "r1",
       "r1"},
      {"stable's only release stays", [](StoreState& s) { return Rollback(s, "stable"); }, true,
       "r1", "r1"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const StoreState before = state;
    const std::string problem = step.apply(state);
    EXPECT_EQ(!problem.empty(), step.refused) << problem;
    if (step.refused) {
      EXPECT_EQ(StoreStateText(state), StoreStateText(before));
      continue;
    }
    const Assignment assignment = Assign(state, clients);
    EXPECT_EQ(assignment.clients.at("cliente 0"), step.stable_client);
    EXPECT_EQ(assignment.clients.at("cliente 15"), step.beta_client);
  }
}

TEST(ReleaseDesk, APruneKeepsWhatAnyoneGetsOrStandsOnAndTheNewest) {
  const auto clients = ManyClients(10, 0);
  StoreState state = WithReleases({"r1", "r2", "r3", "r4", "r5", "r6"});
  for (const char* release : {"r1", "r2", "r3"}) {
    ASSERT_EQ(Rollout(state, clients, {release, "stable", 100, {}}), "");
  }
  ASSERT_EQ(Rollout(state, clients, {"r5", "stable", 0, {}}), "");  // r5 reaches no one yet
  ASSERT_EQ(Pin(state, clients, "cliente 3", "r1"), "");
  const Assignment assignment = Assign(state, clients);
  EXPECT_EQ(PrunableReleases(state, assignment, 1), (std::vector<std::string>{"r2", "r4"}));
  EXPECT_EQ(PrunableReleases(state, assignment, 3), (std::vector<std::string>{"r2"}));
  ForgetReleases(state, {"r2", "r4"});
  EXPECT_EQ(state.FindChannel("stable")->releases, (std::vector<std::string>{"r1", "r3", "r5"}));
  EXPECT_EQ(Assign(state, clients).clients, assignment.clients);
}

TEST(ReleaseDesk, RecordsReadBackAndAnythingElseIsRefused) {
  const auto clients = ParseClientsFile(
      "# clientes\r\nACME\r\n  Padaria Pão Quente | beta \n\nsem canal | Beta\nacme\n"
      "default\nx | \n");
  EXPECT_EQ(clients.clients.size(), 2u);
  EXPECT_EQ(clients.clients[1].name, "padaria pão quente");
  EXPECT_EQ(clients.clients[1].channel, "beta");
  EXPECT_EQ(clients.problems.size(), 4u);  // upper-case channel, repeated, reserved, empty channel
  EXPECT_EQ(ParseClientsFile(ClientsFileText(clients.clients)).clients.size(), 2u);

  StoreState state = WithReleases({"2026.12.1", "2026.12.2"});
  state.signed_manifests = true;
  state.expires_in = 7'776'000;
  ASSERT_EQ(Rollout(state, clients.clients, {"2026.12.1", "stable", 100, {}}), "");
  ASSERT_EQ(Rollout(state, clients.clients, {"2026.12.2", "stable", 10, {"acme"}}), "");
  ASSERT_EQ(Pin(state, clients.clients, "padaria pão quente", "2026.12.1"), "");
  const std::string text = StoreStateText(state);
  std::string problem;
  const auto read = ParseStoreState(text, problem);
  ASSERT_TRUE(read) << problem;
  EXPECT_EQ(StoreStateText(*read), text);

  for (const std::string& broken : std::vector<std::string>{
           text + "channel beta 100 2026.12.9\n", text + "release ../x 1\n",
           text + "pin 2026.12.1\n", text.substr(0, text.size() - 1),
           std::string("kalo-publish store 2\n"), text + "channel stable 100 2026.12.1\n"}) {
    SCOPED_TRACE(broken);
    EXPECT_FALSE(ParseStoreState(broken, problem));
    EXPECT_NE(problem, "");
  }
}

}  // namespace
