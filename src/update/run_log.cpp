#include "update/run_log.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <utility>

#include "platform/caught_error.h"
#include "platform/internet_transfer_interface.h"
#include "platform/local_time.h"
#include "platform/paths.h"
#include "platform/web_address.h"
#include "update/freshness.h"
#include "update/hidden_folder.h"
#include "update/manifest.h"
#include "update/update_run.h"

namespace cImpLicencas {
namespace {

// A value as it is written after its key: bare when it is one word, else in double quotes
// with quotes, backslashes and control characters escaped, so that a line stays one line
// and every key=value pair can be picked out.
std::string Value(std::string_view text) {
  const auto plain = [](unsigned char c) { return c > 0x20 && c != 0x7f && c != '"' && c != '\\'; };
  if (!text.empty() && std::ranges::all_of(text, plain)) {
    return std::string(text);
  }
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte == 0x7f) {
      std::array<char, 5> escape{};
      std::snprintf(escape.data(), escape.size(), "\\x%02x", byte);
      quoted += escape.data();
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string_view StatusWord(ManifestStatus status) {
  switch (status) {
    case ManifestStatus::kNotFetched:
      return "não_buscada";
    case ManifestStatus::kNotReceived:
      return "não_recebida";
    case ManifestStatus::kNotFramed:
      return "não_delimitada";
    case ManifestStatus::kRefused:
      return "recusada";
    case ManifestStatus::kReceived:
      break;
  }
  return "recebida";
}

std::string_view SignatureWord(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::kNotChecked:
      return "não_verificada";
    case SignatureCheck::kNotRequired:
      return "dispensada";
    case SignatureCheck::kNotReceived:
      return "não_recebida";
    case SignatureCheck::kRefused:
      return "recusada";
    case SignatureCheck::kAccepted:
      break;
  }
  return "aceita";
}

std::string_view ComparedWord(EntryComparison::By by) {
  switch (by) {
    case EntryComparison::By::kPresence:
      return "presença";
    case EntryComparison::By::kVersion:
      return "versão";
    case EntryComparison::By::kLength:
      break;
  }
  return "tamanho";
}

std::string_view JournalWord(JournalStep step) {
  switch (step) {
    case JournalStep::kSetAside:
      return "guardado";
    case JournalStep::kPutBack:
      return "reposto";
    case JournalStep::kDiscarded:
      return "descartado";
    case JournalStep::kLeftoverRemoved:
      break;
  }
  return "removido";
}

std::string_view EndWord(RunEnd end) {
  switch (end) {
    case RunEnd::kCompleted:
      return "concluída";
    case RunEnd::kManifestNotReceived:
      return "lista_não_recebida";
    case RunEnd::kManifestNotFramed:
      return "lista_não_delimitada";
    case RunEnd::kManifestRefused:
      return "lista_recusada";
    case RunEnd::kFolderBusy:
      break;
  }
  return "pasta_ocupada";
}

// A fixed-point number with `decimals` places, as a value.
std::string Decimal(double number, int decimals) {
  std::array<char, 32> text{};
  const int length = std::snprintf(text.data(), text.size(), "%.*f", decimals, number);
  return {text.data(), length > 0 ? static_cast<std::size_t>(length) : 0};
}

}  // namespace

// One line: its event word and key=value pairs, in the order added.
class RunLog::Line {
 public:
  explicit Line(std::string_view event) : text_(event) {}
  Line& operator()(std::string_view key, std::string_view value) {
    text_ += ' ';
    text_ += key;
    text_ += '=';
    text_ += Value(value);
    return *this;
  }
  Line& operator()(std::string_view key, std::uint64_t number) {
    return (*this)(key, std::to_string(number));
  }
  Line& operator()(std::string_view key, const std::optional<kalo::Failure>& failure) {
    return failure ? (*this)(key, failure->step + ": " + failure->reason) : *this;
  }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

RunLog::RunLog(kalo::platform::FileSystem& fs, const std::string& install_folder,
               RunLogIdentity identity, WallClock now, RunObserver& told,
               std::uint64_t rotation_bytes)
    : fs_(fs),
      folder_(HiddenFolderOf(install_folder)),
      path_(kalo::platform::PathInFolder(folder_, std::string(kRunLogName))),
      older_path_(kalo::platform::PathInFolder(folder_, std::string(kOlderRunLogName))),
      identity_(std::move(identity)),
      now_(std::move(now)),
      told_(told),
      rotation_bytes_(rotation_bytes) {}

void RunLog::Append(const std::string& text) {
  // The last bytes of a full disk belong to the update, not to its log.
  if (fs_.FreeSpace(folder_) < rotation_bytes_) {
    throw kalo::Error(kalo::error_number::kDiskFull, "o disco está cheio", "RunLog");
  }
  if (fs_.AppendToFile(path_, std::as_bytes(std::span(text))) >= rotation_bytes_) {
    fs_.RenameFile(path_, older_path_);
  }
}

void RunLog::Write(const Line& line) noexcept {
  if (!in_run_ || stopped_) {
    return;
  }
  try {
    Append(kalo::platform::IsoLocalTime(now_()) + " " + line.Text() + "\n");
  } catch (...) {
    stopped_ = true;
    told_.Warned("O registro de execução " + path_ + " não pôde ser gravado (" +
                 kalo::ErrorFromException(std::current_exception(), "RunLog").Description() +
                 "); a atualização segue sem ele");
  }
}

void RunLog::RunStarted(const std::string& server_base, const std::string& client) {
  in_run_ = true;
  stopped_ = false;
  handed_over_ = false;
  failed_.reset();
  Write(Line("início")("versão", identity_.version)("plataforma", identity_.platform)(
      "servidor", kalo::platform::ShownAddress(server_base))(
      "proxy", identity_.proxy.empty()
                   ? std::string("sistema")
                   : kalo::platform::AddressWithoutCredentials(identity_.proxy))("cliente", client)(
      "modo", identity_.mode));
}

void RunLog::ManifestLoaded(const ManifestState& manifest,
                            const std::optional<kalo::Failure>& failure) {
  // An answer that came is framed unless it was found not to be.
  const bool answered = manifest.status != ManifestStatus::kNotReceived ||
                        manifest.signature == SignatureCheck::kNotReceived;
  Write(Line("lista")("endereço", kalo::platform::ShownAddress(manifest.address))(
      "situação", StatusWord(manifest.status))("bytes", manifest.bytes)(
      "delimitada", answered && manifest.status != ManifestStatus::kNotFramed ? "sim" : "não")(
      "assinatura", SignatureWord(manifest.signature))("linhas", manifest.lines.size())("motivo",
                                                                                        failure));
}

void RunLog::TransferEnded(const kalo::platform::TransferOutcome& outcome) {
  const double seconds = std::chrono::duration<double>(outcome.duration).count();
  // A transfer quicker than the clock can tell counts as one millisecond.
  const double rate =
      static_cast<double>(outcome.bytes_received) / 1024.0 / std::max(seconds, 1e-3);
  Line line("transferência");
  line("url", outcome.url)("status", static_cast<std::uint64_t>(outcome.http_status))(
      "bytes", outcome.bytes)("recebidos", outcome.bytes_received)("segundos", Decimal(seconds, 3))(
      "taxa", Decimal(rate, 1) + "KiB/s")(
      "tentativas", static_cast<std::uint64_t>(outcome.attempts))("retomada_de",
                                                                  outcome.resumed_from);
  if (outcome.failure) {
    line("falha", *outcome.failure);
  }
  Write(line);
}

void RunLog::EntryDecided(const std::string& file_name, const EntryComparison& comparison) {
  const bool missing = comparison.by == EntryComparison::By::kPresence;
  Write(Line("entrada")("arquivo", file_name)(
      "decisão", comparison.Matches() ? "atual" : "desatualizado")("critério",
                                                                   ComparedWord(comparison.by))(
      "local", missing ? std::string("ausente") : comparison.found)("lista", comparison.listed));
}

void RunLog::FileReplaced(const std::string& file_name) {
  Write(Line("baixado")("arquivo", file_name));
}

void RunLog::FileUnpacked(const std::string& file_name) {
  Write(Line("descompactado")("arquivo", file_name));
}

void RunLog::Journaled(JournalStep step, const std::string& name, bool recovery) {
  Write(recovery ? Line("recuperação")("ação", JournalWord(step))("arquivo", name)
                 : Line(JournalWord(step))("arquivo", name));
}

void RunLog::EntrySkipped(const std::string& line) {
  Write(Line("ignorada")("linha", line));
}

void RunLog::NothingListed(const std::string& address) {
  Write(Line("sem_arquivos")("endereço", address));
}

void RunLog::Warned(const std::string& text) {
  Write(Line("aviso")("texto", text));
}

void RunLog::Overlooked(const kalo::Failure& failure) {
  Write(Line("relevado")("etapa", failure.step)("motivo", failure.reason));
}

void RunLog::StepFailed(const kalo::Failure& failure) {
  failed_ = failure;
  Write(Line("falha")("etapa", failure.step)("motivo", failure.reason));
}

void RunLog::HandingOver(const std::string& path) {
  handed_over_ = true;
  Write(Line("entrega")("programa", path));
}

void RunLog::RunEnded(std::optional<RunEnd> returned, int exit_status,
                      const std::optional<kalo::Failure>& failure) {
  std::string_view result = "encerrada";
  if (returned) {
    result = EndWord(*returned);
  } else if (exit_status == 0 && handed_over_) {
    result = "entregue";
  } else if (exit_status != 0 && (failure || failed_)) {
    result = "falha";
  }
  Write(Line("fim")("resultado", result)("saída", std::to_string(exit_status))(
      "motivo", failure ? failure : failed_));
  in_run_ = false;
}

}  // namespace cImpLicencas
