// Audit chain throughput beside its floors, all in one run:
//   BM_Ed25519Verify / BM_Ed25519Sign   one signature over an event-sized message
//   BM_Blake3EventSized                 one hash over the same message
//   BM_EventBytes                       canonical bytes of one event (to_json + canonicalize + write)
//   BM_AuditChainAppend/N               N appends to a fresh chain
//   BM_VerifyChain/N                    verify_chain over a log of N entries
//   BM_ChainBytesAndHashOnly/N          verify_chain's work minus the signature checks
// Every benchmark reports items_per_second (events, signatures or hashes per second).

#include <brackfern/audit/audit_chain.hpp>

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace brackfern;

const SigningKey& audit_key() {
  static const SigningKey key = [] {
    std::array<std::uint8_t, 32> seed{};
    for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return SigningKey::from_seed(seed);
  }();
  return key;
}

// An event as the node records it during a bundle apply.
AuditEvent sample_event(std::uint64_t n) {
  return AuditEvent::create(ProductId::from_static("quillmere"), Actor{ActorType::System, std::nullopt, std::nullopt},
                            Target{"service_bundle", "attempted=" + std::to_string(n) + " restored=none"},
                            "node.bundle.rolled_back", AuditResult::Failure, AuditCategory::ServiceLifecycle,
                            Timestamp::from_unix(1772352900 + static_cast<std::int64_t>(n)));
}

// The canonical bytes of a linked event (with a previous hash), the message
// size that the chain really signs and hashes.
const std::string& event_sized_message() {
  static const std::string bytes = [] {
    AuditEvent event = sample_event(42);
    event.previous_event_hash = blake3_hash(std::string_view("previous"));
    return audit_event_bytes(event).value();
  }();
  return bytes;
}

std::vector<AuditEvent> make_events(std::size_t count) {
  std::vector<AuditEvent> events;
  events.reserve(count);
  for (std::size_t i = 0; i < count; ++i) events.push_back(sample_event(i));
  return events;
}

const std::vector<SignedAuditEvent>& signed_log(std::size_t count) {
  static std::map<std::size_t, std::vector<SignedAuditEvent>> logs;
  auto found = logs.find(count);
  if (found != logs.end()) return found->second;
  AuditChain chain = AuditChain::create();
  std::vector<SignedAuditEvent> log;
  log.reserve(count);
  for (AuditEvent& event : make_events(count)) log.push_back(chain.append(std::move(event), audit_key()).value());
  return logs.emplace(count, std::move(log)).first->second;
}

void BM_Ed25519Verify(benchmark::State& state) {
  const std::string& message = event_sized_message();
  const Signature signature = audit_key().sign_bytes(std::string_view(message));
  const VerifyingKey& key = audit_key().verifying_key();
  for (auto _ : state) {
    auto ok = key.verify(std::string_view(message), signature);
    benchmark::DoNotOptimize(ok);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["message_bytes"] = static_cast<double>(message.size());
}
BENCHMARK(BM_Ed25519Verify);

void BM_Ed25519Sign(benchmark::State& state) {
  const std::string& message = event_sized_message();
  for (auto _ : state) {
    Signature signature = audit_key().sign_bytes(std::string_view(message));
    benchmark::DoNotOptimize(signature);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Ed25519Sign);

void BM_Blake3EventSized(benchmark::State& state) {
  const std::string& message = event_sized_message();
  for (auto _ : state) {
    ContentHash hash = blake3_hash(std::string_view(message));
    benchmark::DoNotOptimize(hash);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(message.size()));
}
BENCHMARK(BM_Blake3EventSized);

void BM_EventBytes(benchmark::State& state) {
  AuditEvent event = sample_event(42);
  event.previous_event_hash = blake3_hash(std::string_view("previous"));
  for (auto _ : state) {
    auto bytes = audit_event_bytes(event);
    benchmark::DoNotOptimize(bytes);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventBytes);

void BM_AuditChainAppend(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<AuditEvent> events = make_events(count);
    std::vector<SignedAuditEvent> log;
    log.reserve(count);
    AuditChain chain = AuditChain::create();
    state.ResumeTiming();
    for (AuditEvent& event : events) log.push_back(chain.append(std::move(event), audit_key()).value());
    benchmark::DoNotOptimize(log.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AuditChainAppend)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_VerifyChain(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const std::vector<SignedAuditEvent>& log = signed_log(count);
  const VerifyingKey& key = audit_key().verifying_key();
  for (auto _ : state) {
    auto verified = verify_chain(log, key);
    if (!verified) state.SkipWithError("log did not verify");
    benchmark::DoNotOptimize(verified);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_VerifyChain)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// Everything verify_chain does per entry except the signature check: the
// canonical bytes and the hash of every entry of the same log. Subtracting it
// from BM_VerifyChain leaves the time spent in Ed25519.
void BM_ChainBytesAndHashOnly(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const std::vector<SignedAuditEvent>& log = signed_log(count);
  for (auto _ : state) {
    for (const SignedAuditEvent& entry : log) {
      auto bytes = audit_event_bytes(entry.event);
      ContentHash hash = blake3_hash(std::string_view(bytes.value()));
      benchmark::DoNotOptimize(hash);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ChainBytesAndHashOnly)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
