// Signed releases with the real kalo-publish: its keys, build --sign, and the
// signatures it serves.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

#include "helpers/posix/program_run.h"
#include "helpers/posix/publish_server.h"
#include "helpers/temp_folder.h"
#include "platform/cryptography.h"
#include "publish/signing.h"
#include "support/text.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"
#include "update/protocol.h"

namespace {

namespace fs = std::filesystem;
using kalo::publish::SigningKey;
using kalo::test::ReadWholeFile;

std::span<const std::byte> BytesOf(std::string_view text) {
  return std::as_bytes(std::span(text));
}

// A PEM private key on another curve, as a vendor might bring from elsewhere.
std::string P384KeyPem() {
  const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "secp384r1"), &EVP_PKEY_free);
  const std::unique_ptr<BIO, decltype(&BIO_free_all)> pem(BIO_new(BIO_s_mem()), &BIO_free_all);
  if (!key || !pem ||
      PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return {};
  }
  std::string text(BIO_ctrl_pending(pem.get()), '\0');
  BIO_read(pem.get(), text.data(), static_cast<int>(text.size()));
  return text;
}

class PublishSigning : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(release_);
    fs::copy_file(KALO_TEST_PROGRAM, release_ + "/acme.exe");
    work_.Write("release/logo.jpg", "jpeg");
  }

  kalo::test::ProgramResult Publish(const std::vector<std::string>& arguments) {
    return kalo::test::RunProgram(KALO_PUBLISH_PROGRAM, arguments, {}, scratch_);
  }

  // Publishes the release for the default client, "acme" and `more`.
  kalo::test::ProgramResult Build(const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments{"build", release_, "--out", server_dir_, "--client", "acme"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return Publish(arguments);
  }

  std::string ManifestFolderFile(const std::string& name) const {
    return server_dir_ + "/trabalho/manifests/" + name;
  }

  kalo::test::TempFolder work_;
  kalo::test::TempFolder scratch_;
  const std::string release_ = work_ / "release";
  const std::string server_dir_ = work_ / "server";
  const std::string key_file_ = work_ / "vendor.pem";
};

TEST_F(PublishSigning, KeysMakesAnOwnerOnlyKeyAndNeverReplacesIt) {
  // Whatever the umask, the key is the owner's to read and write, and no one else's.
  for (const std::string mask : {"022", "277"}) {
    SCOPED_TRACE(mask);
    const std::string key_file = key_file_ + mask;
    const auto made = kalo::test::RunProgram(
        "/bin/sh",
        {"-c", "umask " + mask + " && exec \"$0\" keys \"$1\"", KALO_PUBLISH_PROGRAM, key_file}, {},
        scratch_);
    ASSERT_EQ(made.exit_status, 0) << made.err;
    EXPECT_EQ(fs::status(key_file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(made.out.size(), 131u) << made.out;  // one line: the key and a line feed
    const auto printed = cImpLicencas::ParsePublicKey(made.out.substr(0, 130));
    ASSERT_TRUE(printed) << made.out;
    EXPECT_EQ(made.out.substr(0, 130), cUpdate::HexText(*printed));  // lower case
    EXPECT_EQ(*printed, SigningKey::Load(key_file).PublicKey());
    EXPECT_NE(made.err.find("-DKALO_PUBLIC_KEYS="), std::string::npos) << made.err;
    EXPECT_NE(made.err.find("kalo-publish: identificação da chave: " +
                            cImpLicencas::KeyIdOf(*printed) + "\n"),
              std::string::npos)
        << made.err;

    const std::string key = ReadWholeFile(key_file);
    const auto again = Publish({"keys", key_file});
    EXPECT_EQ(again.exit_status, 1);
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(ReadWholeFile(key_file), key);
  }
}

TEST_F(PublishSigning, WrongCommandLinesAreRefused) {
  const struct {
    std::vector<std::string> arguments;
    int exit_status;
  } cases[] = {
      {{"keys"}, 2},                    // no key file
      {{"keys", "a.pem", "b.pem"}, 2},  // two
      {{"keys", "--sign"}, 2},          // an option for a file
      {{"build", release_, "--out", server_dir_, "--sign"}, 2},
      {{"keys", "--help"}, 0},
  };
  for (const auto& [arguments, exit_status] : cases) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    EXPECT_EQ(Publish(arguments).exit_status, exit_status);
  }
  EXPECT_FALSE(fs::exists(server_dir_));
}

TEST_F(PublishSigning, SignedBuildSignsEveryManifestAndUnsignedBuildUndoesIt) {
  ASSERT_EQ(Publish({"keys", key_file_}).exit_status, 0);
  fs::permissions(key_file_, fs::perms::group_read, fs::perm_options::add);
  const auto built = Build({"--sign", key_file_});
  ASSERT_EQ(built.exit_status, 0) << built.err;
  EXPECT_NE(built.err.find("aviso"), std::string::npos) << built.err;  // readable by the group
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  const auto public_key = SigningKey::Load(key_file_).PublicKey();
  for (const std::string client : {"default", "acme"}) {
    SCOPED_TRACE(client);
    EXPECT_NE(built.out.find(ManifestFolderFile(client + ".assinatura")), std::string::npos);
    const auto entries = kalo::test::ManifestEntriesOf(ManifestFolderFile(client + ".txt"));
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& entry : entries) {
      const std::string served =
          ReadWholeFile(server_dir_ + "/trabalho/versao/" + entry.remote_file_name);
      EXPECT_EQ(entry.fields[5], cUpdate::HexText(kalo::platform::Sha256Of(BytesOf(served))));
    }

    const auto signature =
        cImpLicencas::ParseSignatureFile(ReadWholeFile(ManifestFolderFile(client + ".assinatura")));
    ASSERT_TRUE(signature);
    EXPECT_NEAR(static_cast<double>(signature->published_at), static_cast<double>(now), 60);
    EXPECT_EQ(signature->key_id, cImpLicencas::KeyIdOf(public_key));
    EXPECT_EQ(signature->expires_at, std::nullopt);
    // The default manifest serves everyone but acme, which has its own.
    EXPECT_EQ(signature->signed_for.all_but, client == "default");
    EXPECT_EQ(signature->signed_for.ids, std::vector<std::string>{"acme"});
    const auto holds = [&](const std::string& bytes) {
      return kalo::platform::VerifyP256Signature(
          public_key, BytesOf(cImpLicencas::SignedMessage(*signature, bytes)),
          signature->signature);
    };
    const std::string manifest = ReadWholeFile(ManifestFolderFile(client + ".txt"));
    EXPECT_TRUE(holds(manifest));
    std::string altered = manifest;
    altered[altered.size() / 2] ^= 1;
    EXPECT_FALSE(holds(altered));
  }

  // A signature published later than this machine's clock says keeps its date, or
  // every updater that took it would refuse the new release.
  const std::int64_t later = now + 3600;
  work_.Write(
      "server/trabalho/manifests/acme.assinatura",
      cImpLicencas::SignatureFileText(
          {cImpLicencas::SignedFor::Client("acme"), later, std::nullopt, std::nullopt, {}}));
  const auto behind = Build({"--sign", key_file_});
  ASSERT_EQ(behind.exit_status, 0) << behind.err;
  EXPECT_NE(behind.err.find("está antes da última assinatura"), std::string::npos) << behind.err;
  // Only acme's signature, which no longer holds, is made again; the default one stands.
  for (const std::string client : {"default", "acme"}) {
    const auto signature =
        cImpLicencas::ParseSignatureFile(ReadWholeFile(ManifestFolderFile(client + ".assinatura")));
    EXPECT_EQ(signature->published_at == later, client == "acme") << client;
  }

  const auto unsigned_build = Build();
  ASSERT_EQ(unsigned_build.exit_status, 0) << unsigned_build.err;
  for (const std::string client : {"default", "acme"}) {
    SCOPED_TRACE(client);
    EXPECT_FALSE(fs::exists(ManifestFolderFile(client + ".assinatura")));
    const auto entries = kalo::test::ManifestEntriesOf(ManifestFolderFile(client + ".txt"));
    EXPECT_EQ(entries.size(), 2u);
    for (const auto& entry : entries) {
      EXPECT_EQ(entry.fields[5], "") << entry.remote_file_name;
    }
  }
}

// A signature names the key that made it and, when asked, the expiry; the signature
// covers both, so neither can be changed or dropped without breaking it.
TEST(SigningKey, SignsTheKeyIdAndTheExpiryWithTheManifest) {
  const auto key = SigningKey::Load(std::string(KALO_TEST_FIXTURE_DIR) + "/signed/signing_key.pem");
  EXPECT_EQ(key.KeyId(), "0588f99f2063b9bc");  // as the openssl command gives it
  const std::string manifest = "licenca_\r\nlogo-jpg-1.jpg|4\r\n_licenca";
  for (const std::optional<std::int64_t> expires_at :
       {std::optional<std::int64_t>(), std::optional<std::int64_t>(1796086400)}) {
    SCOPED_TRACE(expires_at.value_or(0));
    const auto signature = cImpLicencas::ParseSignatureFile(cImpLicencas::SignatureFileText(
        key.Sign(cImpLicencas::SignedFor::Client("acme"), manifest, 1796000000, expires_at)));
    ASSERT_TRUE(signature);
    EXPECT_EQ(signature->key_id, "0588f99f2063b9bc");
    EXPECT_EQ(signature->expires_at, expires_at);
    const auto holds = [&](const cImpLicencas::ManifestSignature& heading) {
      return kalo::platform::VerifyP256Signature(
          key.PublicKey(), BytesOf(cImpLicencas::SignedMessage(heading, manifest)),
          signature->signature);
    };
    EXPECT_TRUE(holds(*signature));
    auto changed = *signature;
    changed.expires_at = expires_at ? std::nullopt : std::optional<std::int64_t>(1796086400);
    EXPECT_FALSE(holds(changed));
    changed = *signature;
    changed.key_id = std::nullopt;
    EXPECT_FALSE(holds(changed));
  }
}

TEST_F(PublishSigning, BadKeysRefuseTheBuildWhole) {
  const struct {
    const char* name;
    std::string content;  // empty: no such file
  } keys[] = {
      {"missing.pem", ""},
      {"text.pem", "not a key\n"},
      {"p384.pem", P384KeyPem()},
  };
  for (const auto& [name, content] : keys) {
    SCOPED_TRACE(name);
    if (!content.empty()) {
      work_.Write(name, content);
    }
    const auto refused = Build({"--sign", work_ / name});
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_NE(refused.err.find(name), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("nada foi publicado"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(server_dir_));
  }
}

TEST_F(PublishSigning, ServeAnswersTheSignatureBesideTheChosenManifest) {
  ASSERT_EQ(Build({"--client", "beta"}).exit_status, 0);
  work_.Write("server/trabalho/manifests/default.assinatura", "default's");
  work_.Write("server/trabalho/manifests/acme.assinatura", "acme's");
  const kalo::test::PublishServer server(server_dir_, work_ / "server.log");
  httplib::Client client(server.Url());
  const struct {
    const char* id;
    int status;
    const char* body;
  } cases[] = {
      {"acme", 200, "acme's"}, {"ACME", 200, "acme's"}, {"other", 200, "default's"},
      {"", 200, "default's"},  {"beta", 404, ""},  // beta's own manifest is unsigned; the default's
                                                   // signs another
  };
  for (const auto& [id, status, body] : cases) {
    SCOPED_TRACE(id);
    const auto response =
        client.Get(std::string(cImpLicencas::kSignaturePath) + "?id=" + std::string(id));
    ASSERT_TRUE(response) << server.Url();
    EXPECT_EQ(response->status, status);
    EXPECT_EQ(response->body, body);
  }
}

}  // namespace
