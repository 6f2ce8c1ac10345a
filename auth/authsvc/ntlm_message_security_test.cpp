// Message security: signatures without SIGN, sequence numbers, altered and refused messages,
// the stream form of unseal, several data buffers, and a client and a server context that
// exchange sealed messages both ways in connection and datagram mode.
#include "ntlm_message_security.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ntlm_client.h"
#include "ntlm_owf.h"
#include "ntlm_test_util.h"
#include "ntlm_verify.h"

namespace {

using ntlmtest::Bytes;
using ntlmtest::Message;
using ntlmtest::ToHex;

constexpr DWORD kEss = NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY | NTLMSSP_NEGOTIATE_128;
constexpr DWORD kSign = kEss | NTLMSSP_NEGOTIATE_SIGN;
constexpr DWORD kSeal = kSign | NTLMSSP_NEGOTIATE_SEAL;
constexpr DWORD kKeyExch = NTLMSSP_NEGOTIATE_KEY_EXCH;
constexpr DWORD kDatagram = NTLMSSP_NEGOTIATE_DATAGRAM;

// A client and a server record sharing one exported session key.
struct Pair {
  explicit Pair(DWORD flags) {
    client.NegotiateFlags = server.NegotiateFlags = flags;
    for (int i = 0; i < 16; ++i) client.ExportedSessionKey[i] = server.ExportedSessionKey[i] = static_cast<BYTE>(i * 7 + 1);
    DeriveSessionKeys(client, NtlmRole::Client);
    DeriveSessionKeys(server, NtlmRole::Server);
  }
  NtlmKeyMaterial client, server;
};

TEST(MessageSecurity, WithoutSignTheSignatureIsConstant) {
  NtlmKeyMaterial keys;
  keys.NegotiateFlags = kEss;
  std::vector<BYTE> data = Bytes("hello");
  BYTE token[20];
  std::memset(token, 0xEE, sizeof token);
  SecBuffer buffers[2] = {{5, SECBUFFER_DATA, data.data()}, {sizeof token, SECBUFFER_TOKEN, token}};
  SecBufferDesc desc = {SECBUFFER_VERSION, 2, buffers};
  ASSERT_EQ(MakeSignature(keys, 0, &desc, 0), SEC_E_OK);
  EXPECT_EQ(buffers[1].cbBuffer, 16u);
  EXPECT_EQ(ToHex(token, 16), "01000000000000000000000000000000");
  EXPECT_EQ(keys.OutboundSeqNum, 0u);

  const struct {
    size_t at;
    BYTE value;
    SECURITY_STATUS want;
  } cases[] = {{0, 1, SEC_E_OK}, {0, 2, SEC_E_INVALID_TOKEN}, {4, 1, SEC_E_MESSAGE_ALTERED}, {12, 1, SEC_E_OUT_OF_SEQUENCE}};
  for (const auto& c : cases) {
    BYTE received[16] = {1};
    received[c.at] = c.value;
    buffers[1] = {sizeof received, SECBUFFER_TOKEN, received};
    EXPECT_EQ(VerifySignature(keys, &desc, 0, nullptr), c.want) << c.at;
  }
}

TEST(MessageSecurity, MalformedDescriptorsAndMissingSeal) {
  Pair signOnly(kSign);
  BYTE token[16];
  std::vector<BYTE> data = Bytes("data");
  SecBuffer shortToken[2] = {{4, SECBUFFER_DATA, data.data()}, {15, SECBUFFER_TOKEN, token}};
  SecBuffer noToken[1] = {{4, SECBUFFER_DATA, data.data()}};
  SecBuffer nullToken[1] = {{16, SECBUFFER_TOKEN, nullptr}};
  SecBuffer good[2] = {{4, SECBUFFER_DATA, data.data()}, {16, SECBUFFER_TOKEN, token}};
  SecBufferDesc descs[] = {{0, 2, shortToken}, {0, 1, noToken}, {0, 1, nullToken}, {0, 2, nullptr}};
  for (auto& d : descs) {
    EXPECT_EQ(MakeSignature(signOnly.client, 0, &d, 0), SEC_E_INVALID_TOKEN);
    EXPECT_EQ(EncryptMessage(signOnly.client, 0, &d, 0), SEC_E_INVALID_TOKEN);
  }
  EXPECT_EQ(MakeSignature(signOnly.client, 0, nullptr, 0), SEC_E_INVALID_TOKEN);
  SecBufferDesc ok = {0, 2, good};
  EXPECT_EQ(EncryptMessage(signOnly.client, 0, &ok, 0), SEC_E_UNSUPPORTED_FUNCTION);
  EXPECT_EQ(DecryptMessage(signOnly.server, &ok, 0, nullptr), SEC_E_UNSUPPORTED_FUNCTION);
  EXPECT_EQ(signOnly.client.OutboundSeqNum, 0u);
  EXPECT_EQ(ToHex(data), ToHex(Bytes("data")));
}

TEST(MessageSecurity, ConnectionModeCountsAndVerifiesInOrder) {
  for (DWORD flags : {kSign, kSign | kKeyExch, kSeal, kSeal | kKeyExch}) {
    SCOPED_TRACE(flags);
    const bool seal = flags & NTLMSSP_NEGOTIATE_SEAL;
    Pair p(flags);
    Message m0(Bytes("first")), m1(Bytes("second")), m2(Bytes("third"));
    for (Message* m : {&m0, &m1, &m2})
      ASSERT_EQ(seal ? EncryptMessage(p.client, 0, m->Desc(), 0) : MakeSignature(p.client, 0, m->Desc(), 0), SEC_E_OK);
    EXPECT_EQ(m0.token[12], 0);
    EXPECT_EQ(m1.token[12], 1);
    EXPECT_EQ(m2.token[12], 2);
    EXPECT_EQ(p.client.OutboundSeqNum, 3u);
    auto receive = [&](Message& m) {
      return seal ? DecryptMessage(p.server, m.Desc(), 0, nullptr) : VerifySignature(p.server, m.Desc(), 0, nullptr);
    };
    EXPECT_EQ(receive(m0), SEC_E_OK);
    // m2 arrives before m1: out of sequence, and the inbound state has moved past m1.
    EXPECT_EQ(receive(m2), SEC_E_OUT_OF_SEQUENCE);
    EXPECT_EQ(receive(m1), SEC_E_OUT_OF_SEQUENCE);
    EXPECT_EQ(p.server.InboundSeqNum, 3u);
  }
}

TEST(MessageSecurity, FailedVerifyStillAdvancesTheInboundState) {
  for (DWORD flags : {kSign, kSign | kKeyExch, kSeal | kKeyExch}) {
    SCOPED_TRACE(flags);
    const bool seal = flags & NTLMSSP_NEGOTIATE_SEAL;
    Pair p(flags);
    Message m0(Bytes("first message")), m1(Bytes("second message"));
    for (Message* m : {&m0, &m1})
      ASSERT_EQ(seal ? EncryptMessage(p.client, 0, m->Desc(), 0) : MakeSignature(p.client, 0, m->Desc(), 0), SEC_E_OK);
    m0.data[3] ^= 0x20;  // a changed byte
    auto receive = [&](Message& m) {
      return seal ? DecryptMessage(p.server, m.Desc(), 0, nullptr) : VerifySignature(p.server, m.Desc(), 0, nullptr);
    };
    EXPECT_EQ(receive(m0), SEC_E_MESSAGE_ALTERED);
    // The second message is checked with the counter and, with key exchange, the RC4
    // position that follow the first.
    EXPECT_EQ(receive(m1), SEC_E_OK);
    if (seal) {
      EXPECT_EQ(ToHex(m1.data), ToHex(Bytes("second message")));
    }
  }
}

TEST(MessageSecurity, ReadOnlyDataBuffersAreRefusedBeforeAnythingMoves) {
  for (bool sealing : {false, true}) {
    Pair p(kSeal | kKeyExch);
    std::vector<BYTE> a = Bytes("writable"), b = Bytes("read-only");
    BYTE token[16] = {1};
    SecBuffer buffers[3] = {{static_cast<ULONG>(a.size()), SECBUFFER_DATA, a.data()},
                            {static_cast<ULONG>(b.size()), SECBUFFER_DATA | SECBUFFER_READONLY, b.data()},
                            {16, SECBUFFER_TOKEN, token}};
    SecBufferDesc desc = {0, 3, buffers};
    const SECURITY_STATUS results[] = {
        sealing ? EncryptMessage(p.client, 0, &desc, 0) : MakeSignature(p.client, 0, &desc, 0),
        sealing ? DecryptMessage(p.server, &desc, 0, nullptr) : VerifySignature(p.server, &desc, 0, nullptr)};
    for (SECURITY_STATUS s : results) EXPECT_EQ(s, SEC_E_INVALID_TOKEN) << sealing;
    EXPECT_EQ(ToHex(a), ToHex(Bytes("writable")));
    EXPECT_EQ(p.client.OutboundSeqNum, 0u);
    EXPECT_EQ(p.server.InboundSeqNum, 0u);
    // The same message without the flag then goes through on untouched states.
    buffers[1].BufferType = SECBUFFER_DATA;
    ASSERT_EQ(sealing ? EncryptMessage(p.client, 0, &desc, 0) : MakeSignature(p.client, 0, &desc, 0), SEC_E_OK);
    EXPECT_EQ(sealing ? DecryptMessage(p.server, &desc, 0, nullptr) : VerifySignature(p.server, &desc, 0, nullptr),
              SEC_E_OK);
  }
}

TEST(MessageSecurity, DataBuffersFormOneMessageInDescriptorOrder) {
  Pair whole(kSeal | kKeyExch), split(kSeal | kKeyExch);
  Message one(Bytes("headerpayload"));
  ASSERT_EQ(EncryptMessage(whole.client, 0, one.Desc(), 0), SEC_E_OK);

  std::vector<BYTE> header = Bytes("header"), payload = Bytes("payload");
  BYTE token[16], padding[4] = {};
  SecBuffer buffers[5] = {{static_cast<ULONG>(header.size()), SECBUFFER_DATA, header.data()},
                          {sizeof padding, SECBUFFER_EMPTY, padding},
                          {0, SECBUFFER_DATA, nullptr},
                          {16, SECBUFFER_TOKEN, token},
                          {static_cast<ULONG>(payload.size()), SECBUFFER_DATA, payload.data()}};
  SecBufferDesc desc = {0, 5, buffers};
  ASSERT_EQ(EncryptMessage(split.client, 0, &desc, 0), SEC_E_OK);
  std::vector<BYTE> sealed = header;
  sealed.insert(sealed.end(), payload.begin(), payload.end());
  EXPECT_EQ(ToHex(sealed), ToHex(one.data));
  EXPECT_EQ(ToHex(token), one.TokenHex());
  EXPECT_EQ(ToHex(padding), "00000000");
  EXPECT_EQ(DecryptMessage(split.server, &desc, 0, nullptr), SEC_E_OK);
  EXPECT_EQ(ToHex(header), ToHex(Bytes("header")));
  EXPECT_EQ(ToHex(payload), ToHex(Bytes("payload")));
}

TEST(MessageSecurity, StreamFormOfUnseal) {
  Pair p(kSeal | kKeyExch);
  Message sent(Bytes("streamed message"));
  ASSERT_EQ(EncryptMessage(p.client, 0, sent.Desc(), 0), SEC_E_OK);
  std::vector<BYTE> stream(sent.token, sent.token + 16);
  stream.insert(stream.end(), sent.data.begin(), sent.data.end());

  std::vector<BYTE> plain(32, 0xCC);
  SecBuffer buffers[2] = {{static_cast<ULONG>(stream.size()), SECBUFFER_STREAM, stream.data()},
                          {static_cast<ULONG>(plain.size()), SECBUFFER_DATA, plain.data()}};
  SecBufferDesc desc = {0, 2, buffers};
  ASSERT_EQ(DecryptMessage(p.server, &desc, 0, nullptr), SEC_E_OK);
  EXPECT_EQ(buffers[1].pvBuffer, stream.data() + 16);
  EXPECT_EQ(buffers[1].cbBuffer, 16u);
  EXPECT_EQ(ToHex(stream.data() + 16, 16), ToHex(Bytes("streamed message")));
  EXPECT_EQ(ToHex(plain.data(), 16), ToHex(Bytes("streamed message")));
  EXPECT_EQ(plain[16], 0xCC);

  // A caller buffer too short for the plaintext is left alone; the unseal still succeeds.
  Message next(Bytes("second streamed message"));
  ASSERT_EQ(EncryptMessage(p.client, 0, next.Desc(), 0), SEC_E_OK);
  stream.assign(next.token, next.token + 16);
  stream.insert(stream.end(), next.data.begin(), next.data.end());
  std::vector<BYTE> small(4, 0xCC);
  buffers[0] = {static_cast<ULONG>(stream.size()), SECBUFFER_STREAM, stream.data()};
  buffers[1] = {4, SECBUFFER_DATA, small.data()};
  ASSERT_EQ(DecryptMessage(p.server, &desc, 0, nullptr), SEC_E_OK);
  EXPECT_EQ(ToHex(small), "cccccccc");
  EXPECT_EQ(ToHex(stream.data() + 16, 23), ToHex(Bytes("second streamed message")));
}

TEST(MessageSecurity, StreamFormRefusals) {
  Pair p(kSeal);
  std::vector<BYTE> stream(40, 1), data(40);
  BYTE token[16] = {1};
  const struct {
    const char* name;
    std::vector<SecBuffer> buffers;
  } cases[] = {
      {"with a token", {{40, SECBUFFER_STREAM, stream.data()}, {40, SECBUFFER_DATA, data.data()}, {16, SECBUFFER_TOKEN, token}}},
      {"shorter than a signature", {{15, SECBUFFER_STREAM, stream.data()}, {40, SECBUFFER_DATA, data.data()}}},
      {"no data buffer", {{40, SECBUFFER_STREAM, stream.data()}}},
      {"read-only stream", {{40, SECBUFFER_STREAM | SECBUFFER_READONLY, stream.data()}, {40, SECBUFFER_DATA, data.data()}}},
  };
  for (const auto& c : cases) {
    std::vector<SecBuffer> buffers = c.buffers;
    SecBufferDesc desc = {0, static_cast<ULONG>(buffers.size()), buffers.data()};
    EXPECT_EQ(DecryptMessage(p.server, &desc, 0, nullptr), SEC_E_INVALID_TOKEN) << c.name;
  }
  EXPECT_EQ(stream, std::vector<BYTE>(40, 1));
  EXPECT_EQ(p.server.InboundSeqNum, 0u);
}

// An account store with one user, for the exchange below.
class OneAccount : public NtlmAccountValues {
 public:
  explicit OneAccount(std::u16string_view password) {
    EXPECT_TRUE(ComputeNtOwf(password, nt_));
  }
  bool GetUserValue(const WCHAR* user, DWORD level, BYTE value[16]) override {
    if (std::u16string(user) != u"ALICE" || level != NTLM_ACCOUNT_VALUE_NT) return false;
    std::memcpy(value, nt_, 16);
    return true;
  }

 private:
  BYTE nt_[16];
};

TEST(MessageSecurity, ClientAndServerExchangeSealedMessagesBothWays) {
  for (DWORD mode : {DWORD{0}, kDatagram}) {
    SCOPED_TRACE(mode ? "datagram" : "connection");
    // The client completes an exchange the way the AUTHENTICATE builder does it; the server
    // checks the response and takes the session key directly.
    const DWORD flags = kSeal | mode | (mode ? kKeyExch : 0);
    NtlmKeyMaterial client, server;
    client.NegotiateFlags = server.NegotiateFlags = flags;
    ASSERT_EQ(NtlmGenerateRandom(client.ServerChallenge, 8), SEC_E_OK);
    std::memcpy(server.ServerChallenge, client.ServerChallenge, 8);
    if (flags & kKeyExch) {
      ASSERT_EQ(NtlmGenerateRandom(client.ExportedSessionKey, 16), SEC_E_OK);
    }
    BYTE nt[16];
    ASSERT_TRUE(ComputeNtOwf(u"secret", nt));
    NtlmClientResponse response;
    ASSERT_EQ(ComputeClientResponse(client, {u"alice", u"WORKGROUP", nullptr, nt}, &response), SEC_E_OK);
    OneAccount accounts(u"secret");
    const auto user = Bytes("alice"), domain = Bytes("WORKGROUP");
    ASSERT_EQ(VerifyLocalLogon(server, 6, {std::span<const BYTE>(response.LmChallengeResponse), {}, user, domain}, accounts),
              SEC_E_OK);
    std::memcpy(server.ExportedSessionKey, client.ExportedSessionKey, 16);
    DeriveSessionKeys(server, NtlmRole::Server);

    const std::vector<std::string> texts = {"request one", "request two", "request three"};
    std::vector<std::unique_ptr<Message>> toServer, toClient;
    for (size_t i = 0; i < texts.size(); ++i) {
      toServer.push_back(std::make_unique<Message>(Bytes(texts[i])));
      toClient.push_back(std::make_unique<Message>(Bytes("reply to " + texts[i])));
      const ULONG seq = mode ? static_cast<ULONG>(10 + i) : 0;
      ASSERT_EQ(EncryptMessage(client, 0, toServer[i]->Desc(), seq), SEC_E_OK);
      ASSERT_EQ(EncryptMessage(server, 0, toClient[i]->Desc(), seq), SEC_E_OK);
      EXPECT_NE(ToHex(toServer[i]->data), ToHex(Bytes(texts[i])));
    }
    // Connection mode must be received in order; datagrams may come in any order, with the
    // sequence number given or taken from the signature.
    const std::vector<size_t> order = mode ? std::vector<size_t>{2, 0, 1} : std::vector<size_t>{0, 1, 2};
    for (size_t i : order) {
      const ULONG seq = (mode && i == 0) ? static_cast<ULONG>(10 + i) : 0;
      EXPECT_EQ(DecryptMessage(server, toServer[i]->Desc(), seq, nullptr), SEC_E_OK) << i;
      EXPECT_EQ(DecryptMessage(client, toClient[i]->Desc(), seq, nullptr), SEC_E_OK) << i;
      EXPECT_EQ(ToHex(toServer[i]->data), ToHex(Bytes(texts[i])));
      EXPECT_EQ(ToHex(toClient[i]->data), ToHex(Bytes("reply to " + texts[i])));
    }
    if (mode) {
      // A datagram checked under another sequence number than it was sealed with.
      Message late(Bytes("late"));
      ASSERT_EQ(EncryptMessage(client, 0, late.Desc(), 5), SEC_E_OK);
      EXPECT_EQ(DecryptMessage(server, late.Desc(), 6, nullptr), SEC_E_OUT_OF_SEQUENCE);
    }
  }
}

}  // namespace
