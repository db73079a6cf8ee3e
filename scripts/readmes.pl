#!/usr/bin/perl
# Checks that README.md and README.ja.md do not drift apart where a user acts on them: the same
# commands in their shell blocks, the same names of the history's files, and every text that
# README.ja.md quotes in 「」 standing in the program's texts (… where the program puts a value) as
# whole sentences or whole texts, so that a quote cut short or run on is told too.
# Reads bytes: the texts are UTF-8 on both sides.
use strict;
use warnings;

my ($english, $japanese, @sources) = @ARGV;
my $failed = 0;

sub slurp
{
    my ($path) = @_;
    open(my $in, '<:raw', $path) or die "$path: $!\n";
    local $/;
    return <$in>;
}

sub commands
{
    my ($text) = @_;
    my @lines;
    while ($text =~ /^```sh\n(.*?)^```/msg) {
        for my $line (split /\n/, $1) {
            $line =~ s/\s+#.*//;
            $line =~ s/\s+$//;
            push @lines, $line if $line ne '';
        }
    }
    return sort @lines;
}

sub fileNames
{
    my ($text) = @_;
    my %names = map { $_ => 1 } $text =~ /`([^`\n]*qelvo\.ini[^`\n]*)`/g;
    return sort keys %names;
}

sub compare
{
    my ($what, $left, $right) = @_;
    my %inLeft = map { $_ => 1 } @$left;
    my %inRight = map { $_ => 1 } @$right;
    for (grep { !$inRight{$_} } @$left) { print "README.ja.md lacks the $what: $_\n"; $failed = 1; }
    for (grep { !$inLeft{$_} } @$right) { print "README.md lacks the $what: $_\n"; $failed = 1; }
}

sub standsIn
{
    my ($quote, $text) = @_;
    my $sentenceEnd = qr/(?:。|！|？)$/;
    for (my $at = index($text, $quote); $at >= 0; $at = index($text, $quote, $at + 1)) {
        my $before = substr($text, 0, $at);
        my $after = substr($text, $at + length $quote);
        next unless $before eq '' || $before =~ /(?:\n|。|！|？) *$/;
        return 1 if $after eq '' || $after =~ /^\n/ || $quote =~ $sentenceEnd;
    }
    return 0;
}

# The program's texts: string literals, adjacent ones joined as the compiler joins them, each
# argument (%1, %2, ...) marked as one place.
my @texts;
for my $source (@sources) {
    my $code = slurp($source);
    while ($code =~ /((?:u8?|U|L)?"(?:[^"\\\n]|\\.)*"(?:\s*(?:u8?|U|L)?"(?:[^"\\\n]|\\.)*")*)/g) {
        my $run = $1;
        my $text = join '', $run =~ /"((?:[^"\\\n]|\\.)*)"/g;
        $text =~ s/\\n/\n/g;
        $text =~ s/\\(.)/$1/g;
        $text =~ s/%\d+/\0/g;
        push @texts, $text;
    }
}
# The question boxes' buttons, which the toolkit's Japanese translation names.
push @texts, 'はい', 'いいえ';

my $en = slurp($english);
my $ja = slurp($japanese);
compare('command', [commands($en)], [commands($ja)]);
compare('file name', [fileNames($en)], [fileNames($ja)]);

while ($ja =~ /「((?:(?!「|」).|「(?1)」)*)」/sg) {
    my $shown = $1;
    (my $wanted = $shown) =~ s/\n\s*//g;
    $wanted =~ s/…/\0/g;
    next if grep { standsIn($wanted, $_) } @texts;
    print "README.ja.md quotes a text the program does not show: 「$shown」\n";
    $failed = 1;
}
exit $failed;
