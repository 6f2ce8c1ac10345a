// Cost of the NTLM computations: one client response (with its session keys), one server
// verification of it against a local account, and signing and sealing messages.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "ntlm_client.h"
#include "ntlm_message_security.h"
#include "ntlm_owf.h"
#include "ntlm_verify.h"

namespace {

constexpr DWORD kFlags = NTLMSSP_NEGOTIATE_OEM | NTLMSSP_NEGOTIATE_NTLM | NTLMSSP_NEGOTIATE_ALWAYS_SIGN |
                         NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY | NTLMSSP_NEGOTIATE_SIGN |
                         NTLMSSP_NEGOTIATE_SEAL | NTLMSSP_NEGOTIATE_128;

struct Owf {
  Owf() { (void)ComputeNtOwf(u"correct horse battery staple", nt); }
  BYTE nt[16];
};

class Account : public NtlmAccountValues {
 public:
  bool GetUserValue(const WCHAR*, DWORD level, BYTE value[16]) override {
    if (level != NTLM_ACCOUNT_VALUE_NT) return false;
    std::memcpy(value, owf_.nt, 16);
    return true;
  }

 private:
  Owf owf_;
};

// The client's whole AUTHENTICATE computation: a random client challenge, the LMv2 response,
// the session base key and the four signing and sealing keys with their RC4 states.
void BM_ClientResponse(benchmark::State& state) {
  const Owf owf;
  for (auto _ : state) {
    NtlmKeyMaterial keys;
    keys.NegotiateFlags = kFlags;
    NtlmClientResponse out;
    if (ComputeClientResponse(keys, {u"alice", u"WORKGROUP", nullptr, owf.nt}, &out) != SEC_E_OK)
      state.SkipWithError("client response failed");
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ClientResponse)->Unit(benchmark::kMicrosecond);

// The server's local verification of that response at the default level (NTLMv1, NTLM2
// session and LMv2 accepted): the LMv2 check with the message's domain.
void BM_ServerVerification(benchmark::State& state) {
  const Owf owf;
  NtlmKeyMaterial client;
  client.NegotiateFlags = kFlags;
  NtlmClientResponse response;
  if (ComputeClientResponse(client, {u"alice", u"WORKGROUP", nullptr, owf.nt}, &response) != SEC_E_OK) {
    state.SkipWithError("client response failed");
    return;
  }
  const BYTE user[] = {'a', 'l', 'i', 'c', 'e'};
  const BYTE domain[] = {'W', 'O', 'R', 'K', 'G', 'R', 'O', 'U', 'P'};
  Account account;
  for (auto _ : state) {
    NtlmKeyMaterial server;
    server.NegotiateFlags = kFlags;
    if (VerifyLocalLogon(server, NTLM_COMPAT_NTLM | NTLM_COMPAT_NTLMV2,
                         {std::span<const BYTE>(response.LmChallengeResponse), {}, user, domain}, account) != SEC_E_OK)
      state.SkipWithError("verification failed");
  }
}
BENCHMARK(BM_ServerVerification)->Unit(benchmark::kMicrosecond);

// Signing (seal = 0) or sealing (seal = 1) a message of state.range(0) bytes on one context,
// with key exchange (the checksum goes through RC4 too).
void BM_Protect(benchmark::State& state) {
  NtlmKeyMaterial keys;
  keys.NegotiateFlags = kFlags | NTLMSSP_NEGOTIATE_KEY_EXCH;
  std::memset(keys.ExportedSessionKey, 0x5A, 16);
  DeriveSessionKeys(keys, NtlmRole::Client);
  std::vector<BYTE> data(static_cast<size_t>(state.range(0)), 0x42);
  BYTE token[16];
  SecBuffer buffers[2] = {{static_cast<ULONG>(data.size()), SECBUFFER_DATA, data.data()},
                          {sizeof token, SECBUFFER_TOKEN, token}};
  SecBufferDesc desc = {SECBUFFER_VERSION, 2, buffers};
  const bool seal = state.range(1) != 0;
  for (auto _ : state) {
    const SECURITY_STATUS s = seal ? EncryptMessage(keys, 0, &desc, 0) : MakeSignature(keys, 0, &desc, 0);
    if (s != SEC_E_OK) state.SkipWithError("message security failed");
    benchmark::DoNotOptimize(token);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  state.SetLabel(seal ? "seal" : "sign");
}
BENCHMARK(BM_Protect)->ArgNames({"bytes", "seal"})->ArgsProduct({{1024, 65536}, {0, 1}});

}  // namespace

BENCHMARK_MAIN();
