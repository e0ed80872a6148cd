#include "app/status_display.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/local_time.h"

namespace {

using namespace std::chrono_literals;

TEST(StatusDisplay, TransferStateTexts) {
  EXPECT_EQ(kalo::app::TransferStateText(0), "Nenhum estado a reportar");
  EXPECT_EQ(kalo::app::TransferStateText(1), "Procurando o endereço IP do computador HOST.");
  EXPECT_EQ(kalo::app::TransferStateText(12),
            "Requisição completada com sucesso e todos os dados foram recbidos do host");
  for (int undefined : {-1, 13, 32767}) {
    EXPECT_EQ(kalo::app::TransferStateText(static_cast<std::int16_t>(undefined)), "Indefinido");
  }
}

TEST(StatusDisplay, ElapsedSecondsCountSecondBoundaries) {
  const auto start = std::chrono::system_clock::from_time_t(1765143903) + 900ms;
  const std::string prefix = " Start: " + kalo::platform::GeneralDateTime(start);
  EXPECT_EQ(kalo::app::ElapsedTimeLine(start, start + 50ms), prefix + "     Tempo Gasto:0 seg");
  EXPECT_EQ(kalo::app::ElapsedTimeLine(start, start + 150ms), prefix + "     Tempo Gasto:1 seg");
}

}  // namespace
