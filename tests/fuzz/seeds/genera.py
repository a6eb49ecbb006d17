#!/usr/bin/env python3
"""Writes the seeds of fuzz_notizie, fuzz_richieste and fuzz_uscita: streams of messages as
the program and its player send them (QDataStream, big-endian; each message
framed by its length, little-endian). The first byte of a seed cuts the
stream into arrivals; in a request seed, the second says which of the
first eight arrivals bring a descriptor (the i-th when bit i is set). Run from anywhere; it
writes beside itself."""

import os
import struct

QUI = os.path.dirname(os.path.abspath(__file__))


def u8(v): return struct.pack(">B", v)
def u64(v): return struct.pack(">Q", v)
def i64(v): return struct.pack(">q", v)
def stringa(s): b = s.encode("utf-16-be"); return struct.pack(">I", len(b)) + b
def misura(w, h): return struct.pack(">ii", w, h)
def cornice(m): return struct.pack("<I", len(m)) + m


def flusso(taglio, *messaggi):
    return u8(taglio) + b"".join(cornice(m) for m in messaggi)


# Player -> program: Risposta 0, Stato 1, Vivo 2, Pronto 3, Fotogramma 4, Confinato 5.
def risposta(n, errore=""): return u8(0) + u64(n) + stringa(errore)
def stato(n, s, durata, pos, quando): return u8(1) + u64(n) + u8(s) + i64(durata) + i64(pos) + i64(quando)
def confinato(landlock, seccomp, mancanze=""): return u8(5) + u8(landlock) + u8(seccomp) + stringa(mancanze)
def fotogramma(brano, titolo, display, size, posto):
    return u8(4) + u64(brano) + stringa(titolo) + misura(*display) + misura(*size) + u8(posto)


NOTIZIE = {
    "avvio": flusso(255, confinato(2, 1), u8(2), u8(2), u8(3)),
    "senza_landlock": flusso(3, confinato(0, 1, "Landlock: il kernel non lo offre"), u8(3)),
    "apri_suona_fine": flusso(7, stato(1, 1, 300, 0, 10**9), risposta(1), stato(2, 2, 300, 0, 2 * 10**9),
                              risposta(2), stato(2, 2, 300, 250, 2 * 10**9 + 250 * 10**6),
                              stato(2, 3, 300, 300, 2 * 10**9 + 300 * 10**6)),
    "errore": flusso(0, stato(1, 0, -1, 0, 5), risposta(1, "«a.wav»: il file è troncato")),
    "fotogramma": flusso(31, fotogramma(1, "tre.avi", (4, 3), (2, 2), 0), u8(2), fotogramma(1, "tre.avi", (4, 3), (2, 2), 1)),
    "fotogramma_fuori": flusso(255, fotogramma(1, "tre.avi", (4, 3), (8192, 8193), 3)),
    "lunghezza_eccessiva": u8(3) + struct.pack("<I", 0xFFFFFFFF) + b"resto",
}

# Program -> player: Avvia 0, Apri 1, Prepara 2, Chiudi 3, Suona 4, Ferma 5, FotogrammaVisto 6,
# FotogrammaLibero 7, Formato 8.
def apri(tipo, percorso, genere): return u8(tipo) + stringa(percorso) + u8(genere)


def arrivi(taglio, allegati, *messaggi):
    """A request stream: `allegati` marks those of the first eight arrivals that bring a descriptor."""
    return u8(taglio) + u8(allegati) + b"".join(cornice(m) for m in messaggi)


RICHIESTE = {
    "canzone": arrivi(255, 0b1, u8(0), u8(6), u8(7) + u8(0), u8(5), u8(3), apri(1, "/musica/uno.wav", 1)),
    "prepara": arrivi(255, 0b1, u8(4), apri(2, "/musica/due.mid", 0)),
    "posto_ignoto": arrivi(1, 0, u8(6), u8(7) + u8(3)),
    "a_pezzi": arrivi(0, 0b1, apri(1, "/musica/tre.avi", 2), u8(4), u8(3)),
    "genere_ignoto": arrivi(15, 0b1, apri(1, "/m/x.wav", 9)),
    "senza_file": arrivi(255, 0, apri(1, "/m/x.wav", 1)),
}

# Program -> player, Formato 8: rate, channels, channel mask.
RICHIESTE["formato"] = arrivi(255, 0, u8(8) + struct.pack(">IBQ", 48000, 6, 0x60F), u8(0))
RICHIESTE["formato_ignoto"] = arrivi(255, 0, u8(8) + struct.pack(">IBQ", 48000, 3, 0x3))


# fuzz_uscita: the index's read count, then the ring (little-endian, as
# mapped): its header (blocks written, wanted) and slots (stamp, frames,
# flags, rate, channels, float samples); the same bytes read as the output's
# notice (kind, fault, rate, channels, mask, converts, reason).
def blocco(stamp, frames, flags, rate, canali, campioni):
    return struct.pack("<qIIII", stamp, frames, flags, rate, canali) + struct.pack("<%df" % len(campioni), *campioni)


def avviso(tipo, guasto, rate, canali, mask, converte, motivo=""):
    return struct.pack("<BBIBQB", tipo, guasto, rate, canali, mask, converte) + motivo.encode()


USCITA = {
    "un_blocco": struct.pack("<Q", 0) + struct.pack("<QII", 1, 1, 0) + blocco(10**9, 4, 1, 48000, 2, [0.5] * 8),
    "conti_ostili": struct.pack("<Q", 5) + struct.pack("<QII", 2**64 - 1, 7, 0) + blocco(-1, 2**32 - 1, 0, 0, 0, []),
    "pronta_51": avviso(0, 0, 48000, 6, 0x60F, 0),
    "persa": avviso(2, 1, 0, 0, 0, 0, "il server audio è terminato"),
}

for cartella, semi in (("notizie", NOTIZIE), ("richieste", RICHIESTE), ("uscita", USCITA)):
    os.makedirs(os.path.join(QUI, cartella), exist_ok=True)
    for nome, dati in semi.items():
        with open(os.path.join(QUI, cartella, nome), "wb") as f:
            f.write(dati)
