⍝ A small interactive application, packaged at build time
⍝ (build-run/examples/greet_app): it asks for names in its session window
⍝ and greets each; an empty line ends it.
∇MAIN;N
'What is your name? (an empty line ends)'
LOOP:N←⍞
→(0=⍴N)/0
'Hello, ',N
→LOOP
∇
⎕LX←'MAIN'
)SAVE greet_app
