#!/usr/bin/env python3
"""The real kavro-dxp with the real stand-in, end to end, as rows of cases.

  dxp_cases.py --bin DIR GROUP [ROW...]   run a group's rows (all, or those named)
  dxp_cases.py --bin DIR --soak [GAMES]   many short games on one connection, with figures

Each row starts the server in a scratch directory beside copies of the programs, on a free
port of its own ("-port"), plays its script over 127.0.0.1 and then checks the server's log:
its lines in order, their counts, the last line, exit status 1, the stop within a bound, no
stand-in left behind, no sanitizer report, and an echo "Sent:" for every message the client
got (none for E00, the answer to the client's own GAMEEND). A row may read the log through a
pipe, as a log viewer does: every read ends at a line end, and the pipe ends with the server.
Rows run side by side as any user; a row on the protocol's own port 27531 runs in a network
namespace of its own (as root), or alone."""
import argparse, concurrent.futures as cf, glob, os, random, re, select, shutil, signal, socket
import subprocess, sys, tempfile, threading, time, zipfile

PORT, LOST = 27531, 'Received: DXP_CONNECTIONLOST'
ACC, REFUSED = 'AKavro' + ' ' * 27 + '0', 'AKavro' + ' ' * 27 + '2'
SANITIZER = re.compile(r'ERROR: AddressSanitizer|runtime error:|ThreadSanitizer')
EXCHANGE = 'W:W28,31,33-50:B1-18,20,23'  # white must take 28x19, black must take back
ANY_MOVE = r'M0000\d{6}(\d\d)*'


def squares(text):
    out = []
    for part in filter(None, text.split(',')):
        king, part = part.startswith('K'), part.lstrip('K')
        a, _, b = part.partition('-')
        out += [(int(s), king) for s in range(int(a), int(b or a) + 1)]
    return out


def req(kavro, fen=None, name='e2e'):
    """A GAMEREQ; Kavro plays kavro ('W' or 'Z'), from the standard start or a FEN."""
    text = 'R01' + name.ljust(32) + kavro + '010050'
    if not fen:
        return text + 'A'
    board = ['e'] * 50
    for side in fen.split(':')[1:]:
        for s, king in squares(side[1:]):
            board[s - 1] = {'W': 'wW', 'B': 'zZ'}[side[0]][king]
    return text + 'B' + ('W' if fen[0] == 'W' else 'Z') + ''.join(board)


def mv(a, b, *taken):
    return 'M0000%02d%02d%02d' % (a, b, len(taken)) + ''.join('%02d' % s for s in taken)


def cmd(text):
    return 'Kavro command: "%s"' % text


def sent(text):
    return 'Sent: "%s"' % text


def got(text):
    return 'Received: "%s"' % text


# A row: its name, the server's arguments, the script, the log lines expected (a string: that
# exact line, after the one before it; a tuple: a pattern and how many lines match it), the
# stand-in's winkavro.ini lines, the pattern of the last line, whether the driver connects
# first, the most seconds from the script's end to the server's, the row's own bound, and
# whether the stand-in is there. Steps: 's' text and its zero byte, 'raw' bytes as they are,
# 'slow' one byte per send; 'e' the next message not a CHAT matches (n times), 'x' the next
# message matches; 'none' no message for ms; 'log' a line matching comes; 'closed' the
# server closes within seconds; 'close' the client leaves; 'next' a new client connects (the
# server was started with -keep), or the one of 'early', which connected and sent a text
# while the last one was served; 'interrupt' Ctrl-C (SIGINT); 'pause' ms; 'time' lo to hi
# seconds taken by the step before (first: from the start to the connection), or since the
# last 'mark' once there is one; 'pv' the analysis CHATs so far; 'match' dxp-match's
# arguments and ballot positions; 'referee' dxp-match refereeing the server against a second
# follower (a server's row, or a scripted follower's steps), the failure expected (None, or
# dxp-match's line and the games it keeps), and dxp-match's arguments; 'version' the server's
# version is the package's;
# 'instructions' no .exe uses more than the x86-64 baseline. Then: whether the log is read
# through a pipe, whether the stand-in is to outlive the server, the stand-in's folder (below
# the server's), and whether the programs come from the Windows package.
def R(name, args, steps=(), lines=(), ini='', last=LOST, connect=True, quit=20, limit=90,
      engine=True, fixed_port=False, pipe=False, outlive=False, engine_in='', package=False):
    return dict(name=name, args=args, steps=steps, lines=lines, ini=ini, last=last,
                connect=connect, quit=quit, limit=limit, engine=engine, fixed_port=fixed_port,
                pipe=pipe, outlive=outlive, engine_in=engine_in, package=package)


def free_port():
    """A port nobody listens on, picked below the range the system gives connections their
    local ends from: the server binds it only after its start-up test, seconds later, and by
    then a port from that range may be the local end of another test's connection."""
    try:
        with open('/proc/sys/net/ipv4/ip_local_port_range') as f:
            low = int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        low = 32768
    for _ in range(100):
        port = random.randrange(10000, max(low, 10001))
        with socket.socket() as s:
            try:
                s.bind(('127.0.0.1', port))
                return port
            except OSError:
                pass
    raise AssertionError('no free port below %d' % low)


T = ['-t']
KEEP = ['-keep', '-t']
STOPPED = r'Interrupted \(Ctrl-C\); server stopped\.'
NO_CMD = (r'Kavro command: .*', 0)
FIRST_WHITE = r'M00003[1-5][23]\d00'  # a first move of white from the standard start
FIRST_BLACK = r'M0000(1[6-9]|20)2[1-5]00'
# A reply takes the two 500 ms pauses of the server, and little more.
OPENING = [('s', req('Z')), ('e', ACC), ('s', mv(32, 28)), ('e', FIRST_BLACK),
           ('time', 0.95, 4)]
BAD_MOVE = 'cannot match from and to squares of received move.'
COUNTS = 'Capture counts dont match'
CHAT = r'(?=.{,127}$)Cvalue -?\d+\.\d\d, pv [-x\d ]*'
BIG_CHAT = 'C' + 'z' * 126
# A scripted follower named e2e refereed against the server at one move a side: it plays
# 32-28 as white in game 1, then takes game 2 as black and sees the server's first move.
F_ACC = 'Ae2e' + ' ' * 29 + '0'
F_GAME_ONE = [('e', r'R01dxp-match {23}W001001A'), ('s', F_ACC), ('s', mv(32, 28)),
              ('e', FIRST_BLACK), ('e', 'E20'), ('s', 'E00'), ('e', r'R01.{32}Z001001A'),
              ('s', F_ACC), ('e', FIRST_WHITE)]
F_WHO = r'the opponent e2e at 127\.0\.0\.1:\d+'  # as dxp-match names it in its lines
LATE, ENDED = 'Kavro start board not shown yet; waiting up to 15 s.', \
    'The Kavro process this server started is ended.'
NEVER_SHOWN = dict(ini='fault=wrong_start_board\nfault=outlive_server', last=ENDED,
                   connect=False, quit=25, lines=[LATE, 'Kavro start board does not verify.',
                                                  NO_CMD, ('Waiting for client connection.', 0)])
# Beyond the x86-64 baseline: POPCNT, LZCNT, AVX (every VEX mnemonic starts with v), BMI,
# MOVBE, and the commonest of SSSE3 and SSE4 (tzcnt is left: it runs as bsf where unknown).
BEYOND = re.compile(r'^\s*[0-9a-f]+:\t(?:(?:rep\w*|lock|data16|[c-gs]s|notrack|bnd|rex\S*)\s+)*'
                    r'(popcnt|lzcnt|v[a-z]\w*|andn|bextr|bls\w+|bzhi|mulx|pdep|pext|rorx|sarx|'
                    r'shlx|shrx|movbe|crc32\w*|pshufb|ptest|pblendvb|pmulld|pm(?:in|ax)(?:sb|sd|'
                    r'uw|ud)|pcmpgtq|pextrq|pinsrq|round[ps][sd])\b', re.M)

GROUPS = {
  'games': [
    R('jumped-square-command', T, [
        ('s', req('Z', 'W:WK13:B18,30,32,37')), ('e', ACC),
        ('s', mv(13, 25, 18, 30, 32)), ('e', r'M0000374[12]00'), ('s', 'E00'), ('e', 'E00'),
        ('s', req('Z', 'W:WK13:B18,30,32,37')), ('e', ACC),
        ('s', mv(13, 25, 18, 30, 37)), ('e', r'M000032(37|38)00')],
      [cmd('13-32-25'), got('E00'), cmd('n'), cmd('13-37-25'), (r'Sent: "E00"', 0)]),
    R('adjudication-win-draw-loss-then-clean-games', ['-a', '-t'], [
        ('s', req('Z', 'W:WK46:BK1')), ('e', ACC), ('s', mv(46, 41)), ('e', 'E20'),
        ('s', 'E00'), ('none', 1500),
        ('s', req('Z', 'W:W46-49:B1-10')), ('e', ACC), ('s', mv(46, 41)), ('e', 'E30'),
        ('s', 'E00'), ('none', 1500),
        ('s', req('Z', 'W:W33:B28')), ('e', ACC), ('s', mv(33, 22, 28)), ('e', 'E10'),
        ('s', 'E00'), ('none', 1500),
        ('s', req('Z', 'W:W33,40:B23')), ('e', ACC), ('s', mv(33, 28)), ('e', 'E20'),
        ('s', 'E00'),  # undecided (Kavro can take) but fewer than 6 pieces: a draw
        ('s', req('W')), ('e', ACC), ('e', FIRST_WHITE), *OPENING],
      ['GAMEREQ from e2e; time 10; moves 50; start position is custom setup; Kavro plays black',
       cmd('46-41'), 'Draw declared.', sent('E20'), got('E00'), 'Win declared.', sent('E30'),
       'Loss declared.', sent('E10'), cmd('33-28'), 'Draw declared.', sent('E20'),
       'GAMEREQ from e2e; time 10; moves 50; start position is GAYP; Kavro plays white',
       cmd('kca'), cmd('kac'), (r'Sent: "E00"', 0)],
      ini='movetime_ms=1500'),  # long enough for its score to be seen
    R('last-piece-taken-or-blocked', T, [
        ('s', req('Z', 'W:WK44:B45')), ('e', ACC), ('s', mv(44, 50)), ('e', 'E10'),
        ('s', 'E00'), ('none', 1500), ('s', 'B012W'), ('e', 'K1'),
        ('s', req('W', 'W:W46:B37,41')), ('e', ACC), ('e', 'E10')],  # no first move at all
      ['Loss declared.', sent('E10'), got('E00'), got('B012W'), sent('K1'), cmd('kca'),
       'Loss declared.']),
    R('pv-chat-after-each-move', ['-pv', '-t'], [
        ('s', req('W', EXCHANGE)), ('e', ACC), ('x', mv(28, 19, 23)), ('x', CHAT),
        ('s', mv(14, 23, 19)), ('x', ANY_MOVE), ('x', CHAT)]),
    R('pvall-chats-while-thinking', ['-pvall', '-t'], [  # Kavro two men up: sign, scale
        ('s', req('W', 'W:W31-50:B3-20')), ('e', ACC), ('x', CHAT), ('e', FIRST_WHITE),
        ('none', 700), ('s', mv(20, 25)), ('x', CHAT), ('e', ANY_MOVE), ('none', 700),
        ('pv', 1.0, 9.0)], ini='movetime_ms=1500'),
    # Kavro is paced by fixed pauses: each timed stretch takes at least the sum of those in it.
    # The reset after a game Kavro played as white takes it off white as well: its board stays
    # at the start while the client waits, and the next game needs no second reset.
    R('paced-games-reset-once-between-them', [], [
        ('time', 5.5, 20),  # launch 2000, the start-up test's five 500s and two settles of 500
        ('mark',), ('s', req('W', EXCHANGE)), ('e', ACC), ('time', 0.5, 4),  # after its "n"
        ('e', mv(28, 19, 23)), ('time', 1.0, 6),  # and the settle after Kavro's board changed
        ('mark',), ('s', mv(14, 23, 19)), ('e', ANY_MOVE), ('time', 1.0, 4),  # typed, settle
        ('mark',), ('s', 'E00'), ('e', 'E00'), ('none', 500), ('s', req('Z')), ('e', ACC),
        ('s', mv(32, 28)), ('e', FIRST_BLACK), ('time', 2.0, 8)],  # the wait, "kac", typed, settle
      [cmd('kca'), got('E00'), cmd('n'), got(req('Z')), cmd('kac'), (cmd('n'), 4)]),
    R('chat-printed-backreq-k1-acc-taken-silently', T, [
        ('s', 'Chello from the client'), ('s', 'K0'), ('s', ACC), ('s', 'B012W'), ('e', 'K1')],
      [got('Chello from the client'), got('B012W'), sent('K1'), (r'Received: "[AK].*', 0)]),
    R('refused-starts-then-a-game', T, [
        ('s', req('W', 'B:W31,32:B19,20')), ('e', REFUSED),
        ('s', req('W')[:-1] + 'X'), ('e', REFUSED), *OPENING],
      ['The server cannot accept a black-to-move start position.', sent(REFUSED),
       'The server cannot accept a black-to-move start position.', sent(REFUSED),
       cmd('kac'), cmd('32-28'), (r'Kavro command: .*', 2)]),
  ],
  'match': [
    R('match-standard-start-with-startup-test-on-port-27531', [], [  # both sides' default
        ('match', '--games', '2', '--moves', '3')],
      [cmd('31-26'), cmd('19-23'), cmd('kca'), 'Waiting for client connection.', cmd('n'),
       (r'Sent: "E00"', 0),  # the start-up test leaves Kavro on no side: no "n" to repair
       (cmd('n'), 4)], connect=False, fixed_port=True),
    R('match-endgames-adjudicated', ['-a', '-t'], [
        ('match', '--games', '6', '--moves', '8', '--ballot', 'W:W28,33,38,39:B12,13,19',
         'W:WK46,31,35:B9,14,K3', 'W:W28:B23')], connect=False),  # last: white wins
    # Both servers' logs agree with the games; one server declares results (-a), and in
    # W:W28:B23 the side left without pieces declares its loss as the referee ends the game.
    R('referee-two-servers-colours-alternating', ['-a', '-t'], [
        ('referee', R('opponent', T), None, '--games', '6', '--moves', '4', '--ballot',
         'W:W28,33,38,39:B12,13,19', 'W:W28:B23', 'W:W31-50:B1-20')], connect=False,
      limit=150),
    R('referee-follower-illegal-move', T, [
        ('referee', [*F_GAME_ONE, ('s', mv(32, 28)), ('e', 'E30'), ('closed',)],
         ('Illegal move from %s in game 2 at move 1: "M0000322800" is not a legal move in '
          'this position\\.' % F_WHO, 2), '--games', '3', '--moves', '1')], connect=False),
    R('referee-follower-drops-mid-game', T, [
        ('referee', [*F_GAME_ONE, ('close',)], ('The connection to %s is lost\\.' % F_WHO, 2),
         '--games', '3', '--moves', '1')], connect=False),
  ],
  'faults': [
    R('start-board-never-shown-then-engine-ended', [], [  # 2 s, then 15 s of grace
        ('log', 'Kavro start board does not verify.', 30), ('time', 16, 21)], **NEVER_SHOWN),
    R('start-board-shown-late', [], OPENING, [LATE, cmd('31-26'), cmd('kca')],
      ini='fault=slow_start=4500'),
    R('output-piped-engine-outlives-server', [], OPENING, ini='fault=outlive_server',
      pipe=True, outlive=True),
    R('directory-cannot-be-entered', ['-t', 'Kavro folder"'], [], [NO_CMD], connect=False,
      last='The directory "Kavro folder"" cannot be entered; No such file or directory'),
    R('startup-moves-ignored', [], [], [(cmd('31-26'), 1), cmd('19-23'), ENDED],
      ini='fault=ignore_moves', last=ENDED, connect=False),
    R('move-ignored-ten-times', T, [('s', req('Z')), ('e', ACC), ('s', mv(32, 28)),
                                    ('closed', 30)],
      [(cmd('32-28'), 10)], ini='fault=ignore_moves',
      last='Kavro did not make a move.', quit=40),
    R('new-game-ignored-ten-times', T, [*OPENING, ('s', 'E00'), ('e', 'E00'), ('closed', 30),
                                        ('time', 9.5, 12.5)],
      [(cmd('n'), 10)], ini='fault=ignore_new', last='kavro board did not change.',
      quit=40),
    R('missing-engine', [], [], last='CreateProcess; No such file or directory',
      connect=False, engine=False),
    R('illegal-reply', T, [('s', req('W')), ('e', ACC), ('closed',)], ini='fault=illegal_reply',
      last='Cannot match kavro new board up with a legal move.'),
    R('engine-dies-mid-game', T, [
        ('s', req('W', EXCHANGE)), ('e', ACC), ('e', mv(28, 19, 23)), ('s', mv(14, 23, 19))],
      [(LOST, 0)], ini='fault=die_after_moves=1',
      last='ReadProcessMemory; .+'),
  ],
  'hostile': [
    *[R('bad-first-letter-%02x' % c, T, [
        ('raw', 'B001W\0' + chr(c) + '0000322800\0B002W\0'), ('closed',)],
        [got('B001W'), (got('B002W'), 0)]) for c in (0, ord('D'), ord('r'), 1, 0xFF)],
    R('no-zero-byte-after-bad-letter', T, [('raw', 'D' + 'x' * 200), ('closed',)]),
    R('no-zero-byte-after-chat', T, [('raw', 'Chello\0' + 'Q' * 140), ('closed',)],
      [got('Chello'), (r'Received: "Q.*', 0)]),
    R('132-characters-taken-133-refused', T, [
        ('s', 'C' + 'x' * 131), ('s', 'B001W'), ('e', 'K1'), ('s', 'C' + 'y' * 132),
        ('closed',)],
      [got('C' + 'x' * 131), sent('K1'), (r'Received: "Cy.*', 0)]),
    R('one-byte-per-send', T, [('slow', req('Z')), ('e', ACC), ('slow', mv(32, 28)),
                               ('e', FIRST_BLACK), ('slow', 'B001W'), ('e', 'K1')]),
    R('thousand-messages-in-one-send', T, [
        ('raw', ''.join('B%03dW\0' % i for i in range(1000))), ('e', 'K1', 1000),
        ('s', req('W')), ('e', ACC), ('e', FIRST_WHITE)],
      [got('B000W'), got('B999W'), cmd('kca')]),
    R('megabyte-of-chat-while-kavro-thinks', T, [
        ('s', req('W', EXCHANGE)), ('e', ACC), ('raw', (BIG_CHAT + '\0') * 8256),
        ('e', mv(28, 19, 23)), ('s', mv(14, 23, 19)), ('e', ANY_MOVE)],
      [(got(BIG_CHAT), 8256)], ini='movetime_ms=1500'),
    R('move-with-non-digits', T, [('s', req('Z')), ('e', ACC), ('s', 'M00003x2800')],
      last=BAD_MOVE),
    R('move-before-any-game', T, [('s', mv(32, 28))], last=BAD_MOVE),
    R('sixty-captures', T, [('s', req('Z')), ('e', ACC), ('s', 'M0000322860' + '19' * 60)],
      last=COUNTS),
    R('capture-claimed-none-carried', T, [('s', req('Z')), ('e', ACC), ('s', 'M0000322801')],
      last=COUNTS),
    R('more-captures-listed-than-taken', T, [
        ('s', req('Z', EXCHANGE)), ('e', ACC), ('s', mv(28, 19, 23, 24))], last=BAD_MOVE),
    R('quiet-move-where-capture-is-due', T, [
        ('s', req('Z', 'W:W33:B28')), ('e', ACC), ('s', mv(33, 29))], last=COUNTS),
    R('short-gamereq-leaves-other-squares-empty', T, [
        *OPENING, ('s', 'E00'), ('e', 'E00'),
        ('s', 'R01' + 'short'.ljust(32) + 'W010050BW' + 'eeeeezzzzzeeeeewwwww'), ('e', ACC),
        ('e', r'M0000(1[6-9]|20)1[1-5]00'), ('s', 'E00'), ('e', 'E00'), ('s', 'B001W'),
        ('e', 'K1')]),
    R('gameend-twice-gamereq-mid-game', T, [
        *OPENING, ('s', 'E00'), ('e', 'E00'), ('s', 'E00'), ('e', 'E00'),
        ('s', req('W')), ('e', ACC), ('e', FIRST_WHITE), ('s', req('W')), ('e', ACC),
        ('e', FIRST_WHITE)], [(cmd('kca'), 2)]),
    R('leave-mid-message-before-gamereq', T, [('raw', 'R01Rob'), ('pause', 100), ('close',)],
      [(r'.*GAMEREQ.*', 0)]),
    R('leave-while-kavro-thinks-first', T, [
        ('s', req('W')), ('e', ACC), ('log', cmd('kca')), ('close',)],
      ['waitfor_kavro_board_change'], ini='movetime_ms=600000', quit=2.5),
    R('leave-while-kavro-thinks-reply', T, [
        ('s', req('Z')), ('e', ACC), ('s', mv(32, 28)), ('log', cmd('32-28')),
        ('close',)], ini='movetime_ms=600000', quit=2.5),
    R('leave-during-reset', T, [*OPENING, ('s', 'E00'), ('e', 'E00'),
                                ('log', cmd('n')), ('close',)],
      [(cmd('n'), 1)], ini='fault=ignore_new', quit=2.5),
  ],
  'keep': [  # -keep: one Kavro, client after client; Ctrl-C ends it
    R('keep-clients-in-a-row-with-one-kavro', ['-keep'], [
        *OPENING, ('next',),  # left mid-game: Kavro must stand at the start again
        ('s', req('W')), ('e', ACC), ('e', FIRST_WHITE), ('s', 'E00'), ('e', 'E00'),
        ('next',), ('s', req('W')), ('e', ACC), ('e', FIRST_WHITE), ('early', 'B001W'),
        ('none', 500), ('next',), ('e', 'K1'), ('log', sent('K1')), ('interrupt',)],
      [(cmd('31-26'), 1), (cmd('kca'), 3), ('Waiting for client connection.', 4), (LOST, 3),
       (r'.*GAMEREQ.*', 3)], last=STOPPED, quit=5),
    R('keep-nothing-of-a-client-reaches-the-next', KEEP, [
        ('raw', 'B00'), ('next',), ('raw', '1W\0'), ('closed',),  # its bytes are gone
        ('next',), ('raw', 'C' + 'x' * 100), ('next',), ('s', 'B001W'), ('e', 'K1'),
        ('s', req('W')), ('e', ACC), ('log', cmd('kca')), ('next',),  # Kavro thinks
        ('s', req('Z')), ('e', ACC), ('s', mv(32, 28)), ('log', cmd('32-28')), ('next',),
        ('s', req('W')), ('e', ACC), ('raw', 'B002W\0' * 3 + 'R01'), ('next',),
        *[step for raw in ('B003W\0', 'C' + 'y' * 140, 'M00003') * 6
          for step in (('raw', raw), ('next',))],  # many more, leaving at once
        *OPENING, ('log', r'Sent: "M.*'), ('interrupt',)],  # echoed after its send
      [(got('B001W'), 1), (r'Received: "(C|B00[02]).*', 0),
       ('Waiting for client connection.', 25),
       (r'.*GAMEREQ.*', 4)], ini='movetime_ms=1500', last=STOPPED, quit=5, limit=150),
  ],
  'wine': [
    R('wine-games-both-ways-reset-and-stop', [], [
        ('s', req('W', EXCHANGE)), ('e', ACC), ('e', mv(28, 19, 23)), ('s', mv(14, 23, 19)),
        ('e', ANY_MOVE), ('s', 'E00'), ('e', 'E00'),
        ('s', req('Z', EXCHANGE)), ('e', ACC), ('s', mv(28, 19, 23)),
        ('e', r'M0000(1324|1423)0119'), ('s', 'E00'), ('e', 'E00'),
        ('s', req('W')), ('e', ACC), ('e', FIRST_WHITE)],
      [cmd('31-26'), cmd('19-23'), cmd('kca'), 'Window created.', cmd('14-23'), cmd('n'),
       cmd('28-19'), cmd('n'), (r'Sent: "E00"', 0)], limit=300),
    R('wine-reset-waits-in-time', T, [*OPENING, ('s', 'E00'), ('e', 'E00'), ('closed', 30),
                                      ('time', 9.5, 12.5)], [(cmd('n'), 10)],
      ini='fault=ignore_new', last='kavro board did not change.', limit=300),
    R('wine-missing-engine', [], [], last='CreateProcess; .+', connect=False, limit=300,
      engine=False),
    R('wine-kavro-folder-with-blanks-output-piped-engine-outlives', ['Kavro folder'], OPENING,
      ini='fault=outlive_server', engine_in='Kavro folder', pipe=True, outlive=True,
      limit=300),
    R('wine-directory-cannot-be-entered', ['Kavro folder"'], [], [NO_CMD], connect=False,
      last='The directory "Kavro folder"" cannot be entered; .+', limit=300),
    R('wine-start-board-never-shown-then-engine-ended', [], [
        ('log', 'Kavro start board does not verify.', 60), ('time', 16, 30)], limit=300,
      **NEVER_SHOWN),
    R('wine-package-game-and-baseline-instructions', [], [
        ('version',), ('instructions',), ('match', '--games', '1', '--moves', '3')],
      connect=False, package=True, limit=300),
  ],
}


class Run:
    """One server in its scratch directory, and the client's side of the connection."""

    def __init__(self, row, bin_dir, wine):
        self.bin_dir, self.sock, self.buf, self.got = bin_dir, None, b'', []
        self.wine, self.package, self.partial_reads, self.eof_at = wine, row['package'], 0, None
        packages = glob.glob(os.path.join(bin_dir, '..', 'kavro-dxp-*-win64.zip'))
        assert not self.package or len(packages) == 1, 'no package (make dist makes it)'
        self.dir = tempfile.mkdtemp(prefix='kavro-e2e-')
        exe = 'kavro-dxp.exe' if wine else 'kavro-dxp'
        engine_dir = os.path.join(self.dir, row['engine_in'])
        os.makedirs(engine_dir, exist_ok=True)
        if self.package:  # unpacked, and the stand-in copied up as its README.txt says
            zipfile.ZipFile(packages[0]).extractall(self.dir)
            self.version = re.search(r'kavro-dxp-(.+)-win64\.zip$', packages[0]).group(1)
            assert os.path.exists(os.path.join(self.dir, 'standin', 'book.txt')), 'no book'
            for name in os.listdir(os.path.join(self.dir, 'standin')):
                shutil.copy(os.path.join(self.dir, 'standin', name), self.dir)
        for name in [exe, 'winkavro.exe'] * (row['engine'] and not self.package):
            shutil.copy(os.path.join(bin_dir, name),
                        engine_dir if name == 'winkavro.exe' else self.dir)
        with open(os.path.join(engine_dir, 'winkavro.ini'), 'a') as f:
            f.write('\nmovetime_ms=1\nhash_megabytes=8\n' + row['ini'] + '\n')
        self.log_path, self.log_at = os.path.join(self.dir, 'server.log'), 0
        env = dict(os.environ, KAVRO_E2E_RUN=self.dir)  # marks the stand-in as ours
        for name in ('ASAN_OPTIONS', 'UBSAN_OPTIONS', 'TSAN_OPTIONS'):  # the stand-in's too
            env[name] = env.get(name, '') + ':log_path=' + os.path.join(self.dir, 'sanitizer')
        # Without an engine the server runs from bin_dir, beside a winkavro.exe it must not
        # take: the engine comes from the working directory only.
        server = os.path.join(self.dir if row['engine'] else bin_dir, exe)
        self.port = PORT if row['fixed_port'] else free_port()
        port_args = [] if row['fixed_port'] else ['-port', str(self.port)]
        argv = (['wine'] if wine else []) + [server] + row['args'] + port_args
        with open(self.log_path, 'wb') as log:
            out, err, inherited = log.fileno(), subprocess.STDOUT, ()
            if row['pipe']:
                # Standard error elsewhere: wine hands its own to every program it starts, for
                # its debug output. On Linux the pipe is also a descriptor of its own, as a
                # launcher (make's job server, say) leaves some open in what it starts.
                pipe_end, out = os.pipe()
                err, inherited = subprocess.DEVNULL, () if wine else (out,)
            self.proc = subprocess.Popen(argv, cwd=self.dir, env=env, stdin=subprocess.DEVNULL,
                                         stdout=out, stderr=err, pass_fds=inherited,
                                         start_new_session=True)
        if row['pipe']:
            os.close(out)
            self.reader = threading.Thread(target=self.read_pipe, args=(pipe_end,), daemon=True)
            self.reader.start()

    def read_pipe(self, fd):
        """The server's output as a reader of its pipe sees it, into the log, until its end."""
        with open(self.log_path, 'ab') as log:
            while data := os.read(fd, 65536):
                self.partial_reads += not data.endswith(b'\n')
                log.write(data)
                log.flush()
        os.close(fd)
        self.eof_at = time.time()

    def lines(self):
        with open(self.log_path, 'rb') as f:
            return f.read().decode('latin-1').replace('\r', '').splitlines()

    def wait_log(self, pattern, seconds):
        end = time.time() + seconds
        while time.time() < end:
            lines = self.lines()
            for i in range(self.log_at, len(lines)):
                if re.fullmatch(pattern, lines[i]):
                    self.log_at = i + 1
                    return True
            if self.proc.poll() is not None and len(self.lines()) == len(lines):
                return False
            time.sleep(0.05)
        return False

    def connect(self, seconds):
        assert self.wait_log('Waiting for client connection.', seconds), 'server not listening'
        for _ in range(5):  # a connection made as an accept attempt ends may be dropped
            try:
                self.sock = socket.create_connection(('127.0.0.1', self.port), timeout=10)
            except OSError:
                time.sleep(0.2)
                continue
            if self.wait_log('DamExchange server has accepted a client connection.', 5):
                return
            self.sock.close()
        raise AssertionError('no connection accepted')

    def receive(self, seconds):
        """The next message text, or None when none came in time or the server closed."""
        end = time.time() + seconds
        while b'\0' not in self.buf:
            left = end - time.time()
            if left <= 0 or not select.select([self.sock], [], [], left)[0]:
                return None
            try:
                data = self.sock.recv(65536)
            except OSError:
                data = b''
            if not data:
                return None
            self.buf += data
        text, _, self.buf = self.buf.partition(b'\0')
        self.got.append(text.decode('latin-1'))
        return self.got[-1]

    def step(self, op, *a):
        if op in ('s', 'raw', 'slow'):
            data = (a[0] + ('' if op == 'raw' else '\0')).encode('latin-1')
            for i in range(0, len(data), 1 if op == 'slow' else len(data)):
                self.sock.sendall(data[i:i + (1 if op == 'slow' else len(data))])
                time.sleep(0.001 if op == 'slow' else 0)
        elif op in ('e', 'x'):
            for _ in range(a[1] if len(a) > 1 else 1):
                text = self.receive(20)
                while op == 'e' and text and text[0] == 'C':
                    text = self.receive(20)
                assert text and re.fullmatch(a[0], text), 'got %r, not %r' % (text, a[0])
        elif op == 'pv':  # lines without kings: value in range, '-' one row, 'x' two or more
            chats = [c for c in self.got if c.startswith('Cvalue') and not c.endswith('pv ')]
            assert chats, 'no analysis line'
            for c in chats:
                assert a[0] <= float(c[7:c.index(',')]) <= a[1], 'value out of range: ' + c
                for f, sep, t in re.findall(r'(\d+)([-x])(\d+) ', c):
                    rows = abs((int(f) - 1) // 5 - (int(t) - 1) // 5)
                    assert (sep == '-') == (rows == 1), 'bad move %s%s%s in %s' % (f, sep, t, c)
        elif op == 'time':  # the step before took lo to hi seconds
            assert a[0] <= self.took <= a[1], 'took %.1f s, not %s to %s' % (self.took, *a)
        elif op == 'none':
            text = self.receive(a[0] / 1000)
            assert text is None, 'unexpected %r' % text
        elif op == 'log':
            assert self.wait_log(a[0], a[1] if len(a) > 1 else 20), 'no log line %r' % a[0]
        elif op == 'closed':
            end = time.time() + (a[0] if a else 10)
            while self.receive(end - time.time()) is not None:
                pass
            assert time.time() < end, 'the server kept the connection'
        elif op == 'close':
            self.sock.close()
        elif op == 'early':  # the next client connects now and sends its text
            self.early = socket.create_connection(('127.0.0.1', self.port), timeout=10)
            self.early.sendall(a[0].encode('latin-1') + b'\0')
        elif op == 'next':
            self.sock.close()
            self.buf = b''
            if getattr(self, 'early', None):  # served once the last client has gone
                self.sock, self.early = self.early, None
                assert self.wait_log('Waiting for client connection.', 30), 'not listening'
                # Its text is read as soon as it is accepted, and may be answered before the
                # line saying so is printed: later steps look at the log from the listening on.
                listening = self.log_at
                assert self.wait_log('DamExchange server has accepted a client connection.',
                                     5), 'the waiting client was not accepted'
                self.log_at = listening
            else:
                self.connect(30)
        elif op == 'interrupt':
            self.proc.send_signal(signal.SIGINT)
        elif op == 'pause':
            time.sleep(a[0] / 1000)
        elif op == 'match':
            self.match(a)
        elif op == 'referee':
            self.referee(*a)
        elif op == 'version':
            out = subprocess.run(['wine', 'kavro-dxp.exe', '-version'], cwd=self.dir,
                                 capture_output=True, text=True, timeout=60)
            assert (out.returncode, out.stdout.strip()) == (0, 'kavro-dxp ' + self.version), (
                '-version: status %d, %r' % (out.returncode, out.stdout))
        elif op == 'instructions':
            exes = glob.glob(os.path.join(self.bin_dir, '*.exe')) + glob.glob(
                os.path.join(self.dir, '**', '*.exe'), recursive=True)
            for exe in exes:
                code = subprocess.run(['x86_64-w64-mingw32-objdump', '-d', '--no-show-raw-insn',
                                       exe], capture_output=True, text=True, timeout=120,
                                      check=True).stdout
                found = sorted(set(BEYOND.findall(code)))
                assert not found, '%s uses %s' % (exe, ' '.join(found[:10]))

    def match(self, a, opponent=None, fails=None):
        # With opponent's port dxp-match referees; with fails (a line's pattern, the games
        # kept) it must print that line and stop with status 1. Gives the PDN text.
        ballot = [x for x in a if x.startswith('W:')]
        args = [x for x in a if x not in ballot and x != '--ballot']
        if ballot:
            with open(os.path.join(self.dir, 'ballot.txt'), 'w') as f:
                f.write('\n'.join(ballot) + '\n')
            args += ['--ballot', 'ballot.txt']
        args += ['--player', 'dxp:127.0.0.1:%d' % opponent] if opponent else []
        assert self.wait_log('Waiting for client connection.', 60), 'server not listening'
        # The tools run where the server runs, on the files there: the package's under wine.
        tool = ['wine', 'dxp-match.exe'] if self.package else [
            os.path.join(self.bin_dir, 'dxp-match')]
        port = [] if self.port == PORT else ['--port', str(self.port)]
        out = subprocess.run(tool + ['--player', 'random', '--retry', '20', '--wait', '60',
                                     '--pdn', 'match.pdn'] + port + args, cwd=self.dir,
                             capture_output=True, text=True, timeout=300)
        print(out.stdout, end='')
        games = fails[1] if fails else int(args[args.index('--games') + 1])
        assert out.returncode == bool(fails), 'dxp-match ended with status %d' % out.returncode
        assert not fails or re.search('^%s$' % fails[0], out.stdout, re.M), 'no line %s' % fails
        assert not opponent or (  # each side's thinking per game, and the referee's per move
            len(re.findall(r'  Thinking: .+; referee [\d.]+ ms', out.stdout)) == games and
            re.search(r'^Referee time per relayed move: [\d.]+ ms', out.stdout, re.M))
        self.proc.wait(20)
        text = open(os.path.join(self.dir, 'match.pdn')).read()
        compare_pdn(text, self.log_pdn(), games, 1 if opponent else None)
        return text

    def log_pdn(self):
        log2pdn = ['wine', 'dxp-log2pdn.exe'] if self.package else [
            os.path.join(self.bin_dir, 'dxp-log2pdn')]
        return subprocess.run(log2pdn + ['server.log'], cwd=self.dir, capture_output=True,
                              text=True, timeout=60).stdout

    def referee(self, second, fails, *a):
        # This server, black in the first game, against a second server (a row of its own)
        # or a scripted follower (a list of steps).
        server = isinstance(second, dict)
        other = Run(second, self.bin_dir, False) if server else Follower(second)
        try:
            text = self.match(a, other.port, fails)
            if server:
                other.proc.wait(20)
                compare_pdn(text, other.log_pdn(), int(a[a.index('--games') + 1]), 0)
        finally:
            other.end() if server else other.thread.join(30)
        assert server or other.error is None, 'scripted follower: %s' % other.error

    def standins(self):
        found = []
        for pid in filter(str.isdigit, os.listdir('/proc')):
            try:
                with open('/proc/%s/environ' % pid, 'rb') as f:
                    ours = ('KAVRO_E2E_RUN=' + self.dir).encode() in f.read().split(b'\0')
                with open('/proc/%s/cmdline' % pid, 'rb') as f:
                    if ours and b'winkavro' in f.read():
                        found.append(int(pid))
            except OSError:
                pass
        return found

    def end(self):
        """Stops whatever of this run still runs and removes its directory."""
        if self.sock:
            self.sock.close()
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, 9)
            except OSError:
                pass
            self.proc.wait()
        for pid in self.standins():
            try:
                os.kill(pid, 9)
            except OSError:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)


class Follower(Run):
    # A scripted DXP follower on a free port of its own: it takes one connection and plays
    # its steps ('s', 'e', 'close', ...) on it in a thread.
    def __init__(self, steps):
        self.sock, self.buf, self.got, self.error = None, b'', [], None
        self.listener = socket.create_server(('127.0.0.1', 0))
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self.play, args=(steps,), daemon=True)
        self.thread.start()

    def play(self, steps):
        with self.listener:
            try:
                self.listener.settimeout(60)
                with self.listener.accept()[0] as self.sock:
                    for step in steps:
                        self.step(*step)
            except (AssertionError, OSError) as e:
                self.error = e


def games_of(pdn):
    games = []
    for block in re.split(r'\n\s*\n(?=\[)', pdn.strip()):
        tags = dict(re.findall(r'\[(\w+) "([^"]*)"\]', block))
        body = re.sub(r'\[.*?\]|\{.*?\}|\d+\.+', ' ', block, flags=re.S).split()
        games.append((tags, [m for m in body if m not in ('2-0', '0-2', '1-1', '*')]))
    return games


def compare_pdn(match_pdn, log_pdn, count, kavro_white=None):
    """dxp-match's games and those of the server's log: the same start, moves and result. The
    server may answer the initiator's game-ending move before it reads its GAMEEND, so the
    log's game may hold one more move, the server's, at its end. When dxp-match referees, its
    names are both followers' and the log's the initiator's and Kavro's, white in the games
    (from 0) whose parity is kavro_white."""
    mine, theirs = games_of(match_pdn), games_of(log_pdn)
    assert len(mine) == len(theirs) == count, 'games: %d and %d, not %d' % (
        len(mine), len(theirs), count)
    for g, ((tags, moves), (log_tags, log_moves)) in enumerate(zip(mine, theirs)):
        names = ('White', 'Black') if kavro_white is None else ()
        for tag in ('Result', 'FEN', 'SetUp') + names:
            assert tags.get(tag) == log_tags.get(tag), '%s: %r, log %r' % (
                tag, tags.get(tag), log_tags.get(tag))
        colour = 'White' if g % 2 == kavro_white else 'Black'
        assert kavro_white is None or log_tags[colour] == 'Kavro', 'Kavro not ' + colour
        assert moves and tags['Result'] != '*', 'an empty or unfinished game'
        extra = log_moves[len(moves):]
        white_first = not tags.get('FEN', 'W').startswith('B')
        kavro_moves_next = (len(moves) % 2 == 0) == white_first ^ (log_tags['Black'] == 'Kavro')
        assert log_moves[:len(moves)] == moves and (
            not extra or (len(extra) == 1 and kavro_moves_next)), '%s / log %s' % (
            moves, log_moves)


def check_log(run, row, lines, stopped_in):
    for name in filter(lambda n: n.startswith('sanitizer'), os.listdir(run.dir)):
        raise AssertionError('sanitizer report:\n' + open(os.path.join(run.dir, name)).read())
    for bad in filter(SANITIZER.search, lines):
        raise AssertionError('sanitizer report: ' + bad)
    assert run.proc.returncode == 1, 'exit status %d, not 1' % run.proc.returncode
    assert lines and re.fullmatch(row['last'], lines[-1]), 'last line %r, not %r' % (
        lines[-1] if lines else None, row['last'])
    assert stopped_in <= row['quit'], 'stopped %.1f s after the script' % stopped_in
    at = 0
    for want in row['lines']:
        if isinstance(want, tuple):
            n = sum(1 for line in lines if re.fullmatch(want[0], line))
            assert n == want[1], '%d lines %r, not %d' % (n, want[0], want[1])
            continue
        while at < len(lines) and lines[at] != want:
            at += 1
        assert at < len(lines), 'no line %r (in order)' % want
        at += 1
    for text in set(run.got):
        n = lines.count(sent(text))
        assert (n == 0) if text == 'E00' else n >= run.got.count(text), '%d lines %r' % (
            n, sent(text))


def over_time(*_):
    raise AssertionError('row over its time')


def run_row(row, bin_dir):
    # Rows of other tests pick their ports too: one taken between the pick and the server's
    # bind is no fault of the server, and the row runs again on another.
    ok, text = run_row_once(row, bin_dir)
    if not ok and not row['fixed_port'] and 'bind; Address already in use' in text:
        ok, text = run_row_once(row, bin_dir)
    return ok, text


def run_row_once(row, bin_dir):
    wine = row['name'].startswith('wine')
    try:
        run = Run(row, bin_dir, wine)
    except AssertionError as e:
        return False, str(e)
    started = time.time()
    signal.signal(signal.SIGALRM, over_time)
    signal.alarm(row['limit'] + 30)  # whatever blocks, the row still ends and cleans up
    try:
        if row['connect']:
            run.connect(120 if wine else 30)
        run.took, mark = time.time() - started, None  # first: the start to the connection
        for step in row['steps']:
            took = time.time()
            if step[0] == 'time' and mark:
                run.took = took - mark
            run.step(*step)
            if step[0] == 'mark':
                mark = took
            elif step[0] != 'time':
                run.took = time.time() - took
            assert time.time() - started < row['limit'], 'row over its time'
        if run.sock:
            run.sock.close()
        script_end = time.time()
        try:
            run.proc.wait(max(row['quit'], 1) + 5)
        except subprocess.TimeoutExpired:
            raise AssertionError('the server did not stop')
        stopped_in, stopped = time.time() - script_end, time.time()
        if row['pipe']:
            run.reader.join(10)
            assert run.eof_at, 'the output pipe still open 10 s after the server stopped'
            assert run.eof_at - stopped < 2, 'the output pipe ended %.1f s after the server' % (
                run.eof_at - stopped)
            assert not run.partial_reads, '%d reads of the pipe ended inside a line' % (
                run.partial_reads)
        deadline = time.time() + (0 if row['outlive'] else 10)
        while run.standins() and time.time() < deadline:
            time.sleep(0.1)
        # A stand-in told to outlive the server must, or the rest proves nothing; end() ends it.
        assert bool(run.standins()) == row['outlive'], 'a stand-in outlived the server' if (
            not row['outlive']) else 'the stand-in did not outlive the server'
        check_log(run, row, run.lines(), stopped_in)
        return True, '%.1f s' % (time.time() - started)
    except (AssertionError, OSError, subprocess.SubprocessError) as e:
        tail = '\n'.join(l[:200] for l in run.lines()[-40:]) if os.path.exists(run.log_path) else ''
        return False, '%s\n---- server log (end) ----\n%s' % (e, tail)
    finally:
        signal.alarm(0)
        run.end()


def isolated(argv, row):
    """A row on the fixed port in its own network namespace with loopback up, when we are
    root; any other row as it is."""
    if not row['fixed_port'] or os.geteuid() != 0 or not shutil.which('unshare'):
        return argv
    return ['unshare', '-n', 'sh', '-c', 'ip link set lo up && exec "$0" "$@"'] + argv


def wine_session(start):
    prefix = os.environ.setdefault('WINEPREFIX', os.path.abspath('wine/prefix'))
    os.environ.update(WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not start:
        return subprocess.run(['wineserver', '-k'], **quiet, timeout=60)
    if not os.path.exists(os.path.join(prefix, '.kavro-ready')):
        os.makedirs(prefix, exist_ok=True)  # the null graphics driver: no display needed
        subprocess.run(['wineboot', '-i'], **quiet, timeout=600, check=True)
        subprocess.run(['wine', 'reg', 'add', r'HKCU\Software\Wine\Drivers', '/v', 'Graphics',
                        '/d', 'null', '/f'], **quiet, timeout=300, check=True)
        subprocess.run(['wineserver', '-w'], **quiet, timeout=300)
        open(os.path.join(prefix, '.kavro-ready'), 'w').close()
    subprocess.run(['wineserver', '-p60'], **quiet, timeout=60)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument('--bin', required=True)
    p.add_argument('--soak', type=int, metavar='GAMES')
    p.add_argument('--row', action='store_true', help=argparse.SUPPRESS)
    p.add_argument('group', nargs='?', choices=GROUPS)
    p.add_argument('names', nargs='*')
    a = p.parse_args()
    bin_dir = os.path.abspath(a.bin)
    if a.soak:
        return soak(bin_dir, a.soak)
    rows = [r for r in GROUPS[a.group] if not a.names or r['name'] in a.names]
    me = [sys.executable, os.path.abspath(__file__), '--bin', bin_dir]
    if a.row:
        jobs = 1
    elif a.group == 'wine':
        if not shutil.which('wine') or not all(os.path.exists(os.path.join(bin_dir, p))
                                               for p in ('kavro-dxp.exe', 'winkavro.exe')):
            print('wine or the Windows programs (make windows builds them) missing: skipped')
            return 77
        jobs = 1  # one wine session, one row at a time
    else:
        jobs = 4

    def one(row):
        if jobs == 1:
            return run_row(row, bin_dir)
        out = subprocess.run(isolated(me + ['--row', a.group, row['name']], row),
                             capture_output=True, text=True, timeout=row['limit'] + 60)
        return out.returncode == 0, (out.stdout + out.stderr).strip()

    if a.group == 'wine':
        wine_session(True)
    failed = 0
    try:
        # Alone, rows run in the main thread: their time bound is a signal.
        results = cf.ThreadPoolExecutor(jobs).map(one, rows) if jobs > 1 else map(one, rows)
        for row, (ok, text) in zip(rows, results):
            failed += not ok
            print(text if a.row else '%-46s %s %s' % (
                row['name'], 'ok' if ok else 'FAILED:', text), flush=True)
    finally:
        if a.group == 'wine':
            wine_session(False)
    if not a.row:
        print('%d of %d rows failed' % (failed, len(rows)))
    return 1 if failed else 0


def resident_kb(pid):
    try:
        with open('/proc/%d/status' % pid) as f:
            return re.search(r'VmRSS:\s*(\d+)', f.read()).group(1)
    except (OSError, AttributeError):
        return None


def soak(bin_dir, games):
    # Every move checked by dxp-match, every game the server's own, and (the server with -a)
    # games ended by both sides; after the first 10 games memory must stay flat.
    run = Run(R('soak', ['-a', '-t'], connect=False), bin_dir, False)
    ballot, pdn = os.path.join(run.dir, 'ballot.txt'), os.path.join(run.dir, 'soak.pdn')
    with open(ballot, 'w') as f:
        f.write('W:W31-38:B11-18\nW:W27,28,32,33,37,38,42,43,47,48:B3,4,8,9,13,14,18,19,22,25\n'
                'W:W30,35,40,K45:B6,11,16,K1\nW:W26,31,36,41,46:B5,10,15,20,25\n'
                'W:WK46,K28:BK5,K19\nW:W31,K44:B7,K10\n')
    try:
        assert run.wait_log('Waiting for client connection.', 30), 'server not listening'
        rss, started = {'start': resident_kb(run.proc.pid)}, time.time()
        with open(os.path.join(run.dir, 'match.out'), 'w+') as out:
            match = subprocess.Popen([os.path.join(bin_dir, 'dxp-match'), '--player', 'random',
                                      '--games', str(games), '--moves', '8', '--ballot', ballot,
                                      '--port', str(run.port), '--pdn', pdn, '--retry', '20'],
                                     stdout=out, stderr=subprocess.STDOUT)
            while match.poll() is None and time.time() - started < games * 60:
                time.sleep(0.5)  # the last look before the client leaves is the end figure
                figure, _ = resident_kb(run.proc.pid), out.seek(0)
                if figure and 'ten' not in rss and out.read().count('\nGame ') >= min(10, games):
                    rss['ten'] = figure
                rss['end'] = figure or rss.get('end')
            match.wait(30)
            out.seek(0)
            print(''.join(out.readlines()[-6:]), end='')
        seconds = time.time() - started
        assert run.proc.wait(20) == 1 and run.lines()[-1] == LOST, run.lines()[-1]
        log_pdn = subprocess.run([os.path.join(bin_dir, 'dxp-log2pdn'), run.log_path],
                                 capture_output=True, text=True, timeout=600).stdout
        compare_pdn(open(pdn).read(), log_pdn, games)  # the server's games are the client's
        moves = sum(1 for l in run.lines() if l.startswith(('Received: "M', 'Sent: "M')))
        print('%d games in %.0f s: %.0f games per hour, %.2f moves per second; server VmRSS '
              '%s kB at the start, %s kB after 10 games, %s kB at the end' % (
                  games, seconds, games * 3600 / seconds, moves / seconds, rss['start'],
                  rss.get('ten'), rss.get('end')))
        assert match.returncode == 0, 'dxp-match failed with status %d' % match.returncode
        growth = int(rss['end']) - int(rss['ten'])
        assert growth <= 64, 'resident memory grew by %d kB after 10 games' % growth
        print('soak passed')
        return 0
    except (AssertionError, OSError, subprocess.SubprocessError, KeyError, TypeError) as e:
        print('soak FAILED: %s' % e)
        return 1
    finally:
        run.end()


if __name__ == '__main__':
    sys.exit(main())
