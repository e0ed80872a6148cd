#include "app/status_display.h"

#include <array>

#include "platform/local_time.h"

namespace kalo::app {

std::string TransferStateText(std::int16_t state) {
  // The system's own texts, spelling included.
  static constexpr std::array<const char*, 13> kTexts{
      "Nenhum estado a reportar",
      "Procurando o endereço IP do computador HOST.",
      "Encontrado o endereço IP do computador HOST",
      "Estabecendo uma conexão com um computador host",
      "Conexão realizada com sucesso ao computador host.",
      "Enviando um requisição ao host",
      "Requisição envida com sucesso ao host",
      "Recebendo uma resposta de um host",
      "Resposta recebida com sucesso de um host",
      "Desconectando de um host",
      "Sucesso na desconexão do host",
      "Um erro ocorreu na comunicação com o host",
      "Requisição completada com sucesso e todos os dados foram recbidos do host",
  };
  if (state < 0 || static_cast<std::size_t>(state) >= kTexts.size()) {
    return "Indefinido";
  }
  return kTexts[static_cast<std::size_t>(state)];
}

std::string ElapsedTimeLine(std::chrono::system_clock::time_point start,
                            std::chrono::system_clock::time_point now) {
  using std::chrono::floor;
  using std::chrono::seconds;
  const auto elapsed = floor<seconds>(now) - floor<seconds>(start);
  return " Start: " + platform::GeneralDateTime(start) +
         "     Tempo Gasto:" + std::to_string(elapsed.count()) + " seg";
}

}  // namespace kalo::app
