⍝ A small application, saved with its latent expression and packaged at
⍝ build time (build-run/examples/hello_app): starting the package runs MAIN,
⍝ whose result the latent expression shows as its last line.
∇Z←MAIN;N
'Hello from a packaged application'
N←⍳10
'Squares: ',⍕N*2
Z←'Primes below 50: ',⍕(2=+⌿0=(⍳50)∘.|⍳50)/⍳50
∇
⎕LX←'MAIN'
)SAVE hello_app
