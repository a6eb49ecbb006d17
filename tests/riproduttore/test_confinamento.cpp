// Landlock alone, and the filters against every thread (test_malizia.cpp
// holds what each helper refuses).

#include "NelConfino.h"

// Landlock alone, first as Debian 12's kernel gives it: the ruleset must be
// one that kernel accepts, and it does not cover truncation (seccomp does).
TEST_F(Confinamento, LandlockAloneRefusesWritingAndForeignProgramsAtAbi2AndAtTheKernels)
{
    const int abi = abiLandlock();
    if (abi == 0)
        GTEST_SKIP() << "kernel without Landlock";
    for (const int massima : {2, abi}) {
        SCOPED_TRACE(massima);
        std::ofstream(canzone) << contenuto;
        OpzioniConfino soloLandlock;
        soloLandlock.seccomp = false;
        soloLandlock.abiMassima = massima;
        const Esito e = nelConfino([&] { return confinaCome(Aiutante::Riproduttore, soloLandlock); }, [&](Tentativi& tenta) {
            scritture(tenta);
            tenta("tcp", connettiTcp());
            tenta("tronca", ::truncate(canzone.c_str(), 0));
            tenta("exec", esegui(eseguibile.c_str()));
        });
        EXPECT_EQ(e.landlock, std::min(massima, abi));
        EXPECT_FALSE(e.seccomp);
        for (const char* n : {"crea_cartella", "crea_tmp", "scrivi", "aggiorna", "aggiungi", "cancella", "exec"})
            EXPECT_EQ(e[n], EACCES) << n;
        if (!inCasa.empty()) {
            EXPECT_EQ(e["crea_casa"], EACCES);
        }
        EXPECT_NE(e["rinomina"], 0);
        EXPECT_EQ(e["leggi"], EACCES) << "a file outside the system's folders, by name";
        if (e.landlock >= 3)
            EXPECT_EQ(e["tronca"], EACCES);
        else
            EXPECT_EQ(e["tronca"], 0) << "ABI 2 handles no truncation: the ruleset was masked to it";
        if (e.landlock >= 4) {
            EXPECT_EQ(e["tcp"], EACCES);
        } else {
            EXPECT_NE(e["tcp"], EACCES) << "no TCP rights before ABI 4";
        }
    }
}

// What a decoder taken over would reach first: the session bus, the display,
// an agent, the sound server, all listening Unix sockets, at a path or an
// abstract name. Nothing, from any thread, even one started before the
// filter; only GStreamer's stream pairs are made.
TEST_F(Confinamento, TheDecoderConnectsNowhereFromAnyThread)
{
    const Ascolto percorso((cartella / "bus").string(), false);
    const Ascolto astratto(nome, true);
    std::map<std::string, int> liberi; // sockets made before the filter, per attempt
    const Esito e = nelConfinoConFilo(
        [&](Tentativi& tenta) {
            for (const char* chi : {"main_", "filo_"})
                for (const char* dove : {"percorso", "astratto"})
                    liberi[std::string(chi) + dove] = socketUnix();
            // Landlock as Debian 12's kernel gives it, which scopes no abstract socket:
            // the filter alone must refuse them.
            OpzioniConfino debian12;
            debian12.abiMassima = 2;
            const Confino c = confinaCome(Aiutante::Riproduttore, debian12);
            tenta("filtro", c.seccomp ? 0 : (errno = EINVAL, -1));
        },
        [&](Tentativi& tenta, const std::string& chi) {
            tenta(chi + "percorso", percorso.connetti(liberi[chi + "percorso"]));
            tenta(chi + "astratto", astratto.connetti(liberi[chi + "astratto"]));
            tenta(chi + "socket", socketUnix());
            tenta(chi + "coppia", coppia(SOCK_STREAM));
            tenta(chi + "coppia_datagrammi", coppia(SOCK_DGRAM));
        });
    EXPECT_EQ(e["filtro"], 0);
    for (const std::string chi : {"main_", "filo_"}) {
        SCOPED_TRACE(chi);
        EXPECT_EQ(e[chi + "percorso"], EPERM);
        EXPECT_EQ(e[chi + "astratto"], EPERM);
        EXPECT_EQ(e[chi + "socket"], EPERM);
        EXPECT_EQ(e[chi + "coppia"], 0) << "GStreamer's poll needs its pair";
        EXPECT_NE(e[chi + "coppia_datagrammi"], 0);
    }
}

// The output process acquires, then drops: the connection it opened before
// sealing still carries sound, and no other can be made, by any thread.
TEST_F(Confinamento, TheSealedOutputKeepsItsOneConnectionAndMakesNoOther)
{
    const Ascolto server((cartella / "server").string(), false);
    int connessione = -1;
    std::map<std::string, int> liberi;
    const Esito e = nelConfinoConFilo(
        [&](Tentativi& tenta) {
            connessione = socketUnix();
            tenta("prima", server.connetti(connessione));
            for (const char* chi : {"main_", "filo_"})
                liberi[chi] = socketUnix();
            tenta("sigillo", sonora::uscita::sigillaUscita().empty() ? 0 : (errno = EINVAL, -1));
        },
        [&](Tentativi& tenta, const std::string& chi) {
            tenta(chi + "invia", ::send(connessione, "x", 1, MSG_NOSIGNAL));
            tenta(chi + "connetti", server.connetti(liberi[chi]));
            tenta(chi + "socket", socketUnix());
            tenta(chi + "coppia", coppia(SOCK_STREAM));
            tenta(chi + "crea", crea(cartella / (chi + "nuovo")));
            tenta(chi + "exec", esegui("/bin/true"));
        });
    EXPECT_EQ(e["prima"], 0);
    EXPECT_EQ(e["sigillo"], 0);
    for (const std::string chi : {"main_", "filo_"}) {
        SCOPED_TRACE(chi);
        EXPECT_EQ(e[chi + "invia"], 0) << "the connection it opened first";
        EXPECT_EQ(e[chi + "connetti"], EPERM);
        EXPECT_EQ(e[chi + "socket"], EPERM);
        EXPECT_EQ(e[chi + "coppia"], 0);
        EXPECT_NE(e[chi + "crea"], 0);
        EXPECT_NE(e[chi + "exec"], 0);
    }
    nonScritto();
}
